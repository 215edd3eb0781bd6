// Bytes from a network server as the RFC 2217 client reads them: whatever they are and however
// the connection cuts them, the decoder gives the same data and the same commands, never more
// data than it read, and never a subnegotiation longer than its bound; data escaped for the
// stream reads back as it was, with no command in it.

#include "fuzz/Expect.h"
#include "serial/TelnetCodec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Decoded {
    std::string data;
    std::vector<TelnetCodec::Event> events;
};

// The stream decoded in chunks that end at each of cuts (ascending), then the rest.
Decoded Decode(const std::uint8_t* in, std::size_t n, const std::vector<std::size_t>& cuts) {
    TelnetCodec codec;
    Decoded d;
    std::vector<unsigned char> out(n);
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i < cuts.size() ? cuts[i] : n;
        const std::size_t before = d.events.size();
        const std::size_t got = codec.Decode(in + from, to - from, out.data(), &d.events);
        Expect(got <= to - from, "no more data than was read");
        for (std::size_t e = before; e < d.events.size(); ++e) {
            Expect(d.events[e].dataAt <= got, "a command's place is among its chunk's data");
            d.events[e].dataAt += d.data.size(); // its place in the whole stream's data
        }
        d.data.append(reinterpret_cast<const char*>(out.data()), got);
        from = to;
    }
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte says where the connection cuts the rest.
    const unsigned step = data[0] % 7 + 1;
    const std::uint8_t* in = data + 1;
    const std::size_t n = size - 1;
    std::vector<std::size_t> cuts;
    for (std::size_t at = step; at < n; at += step + (at % 3))
        cuts.push_back(at);

    const Decoded whole = Decode(in, n, {});
    const Decoded cut = Decode(in, n, cuts);
    Expect(whole.data == cut.data, "the same data however the stream is cut");
    Expect(whole.events.size() == cut.events.size(), "the same commands however it is cut");
    for (std::size_t i = 0; i < whole.events.size() && i < cut.events.size(); ++i) {
        const TelnetCodec::Event &a = whole.events[i], &b = cut.events[i];
        Expect(a.kind == b.kind && a.verb == b.verb && a.option == b.option &&
                   a.payload == b.payload && a.dataAt == b.dataAt,
               "each command the same, at the same place");
        Expect(a.payload.size() <= TelnetCodec::kLongestSubnegotiation,
               "a subnegotiation within its bound");
    }

    std::string escaped;
    TelnetCodec::AppendEscaped(in, n, &escaped);
    const Decoded back =
        Decode(reinterpret_cast<const std::uint8_t*>(escaped.data()), escaped.size(), cuts);
    Expect(back.data == std::string(reinterpret_cast<const char*>(in), n) && back.events.empty(),
           "escaped data reads back as it was");
    return 0;
}
