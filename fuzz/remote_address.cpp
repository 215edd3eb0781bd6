// A port's URL as a ports entry or a command line gives it: whatever the bytes, Parse either
// gives an address whose URL reads back as the same address, with a host a resolver can be
// given and a port number in range, or says what is wrong in printable words; and only text
// that looks like a URL is taken for one.

#include "fuzz/Expect.h"
#include "serial/RemoteAddress.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RemoteAddress a;
    std::string why;
    if (!RemoteAddress::Parse(text, &a, &why)) {
        Expect(!why.empty() && std::all_of(why.begin(), why.end(),
                                           [](char c) { return c >= 0x20 && c < 0x7f; }),
               "what is wrong, in printable text");
        return 0;
    }
    Expect(RemoteAddress::LooksLikeUrl(text), "only a URL is parsed as one");
    Expect(a.port >= 1 && a.port <= 65535, "a port number in range");
    Expect(!a.host.empty() && a.host.size() <= 253 &&
               std::all_of(a.host.begin(), a.host.end(),
                           [](char c) { return c > 0x20 && c < 0x7f && c != '/' && c != '@'; }),
           "a host with nothing a resolver could take for more");
    RemoteAddress back;
    Expect(RemoteAddress::Parse(a.Url(), &back, &why) && back.Url() == a.Url() &&
               back.host == a.host && back.port == a.port && back.scheme == a.scheme,
           "the URL reads back as the same address");
    return 0;
}
