#pragma once

#include <string>

// A port on another machine, named as pyserial names one: rfc2217://HOST:PORT for a server that
// speaks RFC 2217 (Telnet with the line's settings, ser2net's telnet(rfc2217) accepter), or
// socket://HOST:PORT for a raw TCP port that carries the bytes as they are. HOST is a name, an
// IPv4 address or an IPv6 address in brackets.
struct RemoteAddress {
    enum class Scheme { Rfc2217, Socket };

    Scheme scheme = Scheme::Rfc2217;
    std::string host; // without the brackets of an IPv6 address
    unsigned port = 0;

    // True for text that names a place by a scheme ("name://..."), as a device path never does:
    // such a port is reached over the network, or refused, never opened as a file.
    static bool LooksLikeUrl(const std::string& text);
    // The address a URL names; false with what is wrong in *pWhy.
    static bool Parse(const std::string& url, RemoteAddress* pAddress, std::string* pWhy);
    // "HOST:PORT", brackets round an IPv6 address.
    std::string HostAndPort() const;
    // The URL again, as Parse takes it.
    std::string Url() const;
};
