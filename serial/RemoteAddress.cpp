#include "serial/RemoteAddress.h"

#include "core/OneLine.h"

#include <cstring>

namespace {

constexpr const char* kSchemes[] = {"rfc2217", "socket"};
// A DNS name is at most 253 characters.
constexpr std::size_t kLongestHost = 253;

bool Letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

bool HexDigit(char c) {
    return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A name or an IPv4 address: letters, digits, '-', '_' and '.', not beginning with '-'.
bool NameOk(const std::string& host) {
    if (host.empty() || host.size() > kLongestHost || host.front() == '-' || host.front() == '.')
        return false;
    for (const char c : host)
        if (!Letter(c) && !Digit(c) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

// An IPv6 address as written between brackets: hex digits, ':' and '.' (an IPv4 tail); the
// resolver says whether it is one.
bool Ipv6Ok(const std::string& host) {
    if (host.size() < 2 || host.size() > 45 || host.find(':') == std::string::npos)
        return false;
    for (const char c : host)
        if (!HexDigit(c) && c != ':' && c != '.')
            return false;
    return true;
}

// Part of a URL quoted in a reason.
std::string Shown(const std::string& part) {
    return Printable(part, 64);
}

} // namespace

bool RemoteAddress::LooksLikeUrl(const std::string& text) {
    if (text.empty() || !Letter(text.front()))
        return false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':')
            return text.compare(i, 3, "://") == 0;
        if (!Letter(c) && !Digit(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

bool RemoteAddress::Parse(const std::string& url, RemoteAddress* pAddress, std::string* pWhy) {
    const std::size_t sep = url.find("://");
    if (!LooksLikeUrl(url) || sep == std::string::npos) {
        *pWhy = "not a URL (rfc2217://HOST:PORT or socket://HOST:PORT)";
        return false;
    }
    RemoteAddress a;
    const std::string scheme = url.substr(0, sep);
    if (scheme == kSchemes[0]) {
        a.scheme = Scheme::Rfc2217;
    } else if (scheme == kSchemes[1]) {
        a.scheme = Scheme::Socket;
    } else {
        *pWhy = "unknown scheme '" + Shown(scheme) + "' (rfc2217 or socket)";
        return false;
    }
    std::string rest = url.substr(sep + 3);
    // pyserial's option for servers that do not acknowledge SET-CONTROL: ours never waits for
    // that acknowledgement, so it changes nothing. Any other option would be ignored silently.
    const std::size_t query = rest.find('?');
    if (query != std::string::npos) {
        if (rest.compare(query, std::string::npos, "?ign_set_control") != 0) {
            *pWhy =
                "options after '?' are not taken (only ?ign_set_control, which changes nothing)";
            return false;
        }
        rest.erase(query);
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::size_t colon = std::string::npos;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            *pWhy = "an IPv6 address needs its closing ']'";
            return false;
        }
        a.host = rest.substr(1, close - 1);
        if (!Ipv6Ok(a.host)) {
            *pWhy = "'" + Shown(a.host) + "' is not an IPv6 address";
            return false;
        }
        if (close + 1 < rest.size() && rest[close + 1] == ':')
            colon = close + 1;
        else {
            *pWhy = "the port number is missing (" + scheme + "://HOST:PORT)";
            return false;
        }
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            *pWhy = "the port number is missing (" + scheme + "://HOST:PORT)";
            return false;
        }
        a.host = rest.substr(0, colon);
        if (a.host.find(':') != std::string::npos) {
            *pWhy = "an IPv6 address goes in brackets ([" + Shown(a.host) + "])";
            return false;
        }
        if (!NameOk(a.host)) {
            *pWhy = a.host.empty() ? std::string("the host is missing (") + scheme + "://HOST:PORT)"
                                   : "'" + Shown(a.host) + "' is not a host name or address";
            return false;
        }
    }
    const std::string digits = rest.substr(colon + 1);
    unsigned long port = 0;
    bool ok = !digits.empty() && digits.size() <= 5;
    for (const char c : digits) {
        ok = ok && Digit(c);
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (!ok || port < 1 || port > 65535) {
        *pWhy = "the port number is 1 to 65535, not '" + Shown(digits.substr(0, 16)) + "'";
        return false;
    }
    a.port = static_cast<unsigned>(port);
    *pAddress = a;
    return true;
}

std::string RemoteAddress::HostAndPort() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string RemoteAddress::Url() const {
    return std::string(kSchemes[scheme == Scheme::Rfc2217 ? 0 : 1]) + "://" + HostAndPort();
}
