#include "core/OneLine.h"

namespace {

template <class Plain> std::string Escaped(const std::string& text, Plain plain) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (plain(b))
            shown += c;
        else
            shown += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
    }
    return shown;
}

} // namespace

std::string OneLine(const std::string& text) {
    return Escaped(text, [](unsigned char b) { return b >= 0x20 && b != 0x7f; });
}

std::string Printable(const std::string& text, std::size_t longest) {
    const std::string shown =
        Escaped(text.substr(0, longest), [](unsigned char b) { return b >= 0x20 && b < 0x7f; });
    return text.size() > longest ? shown + "..." : shown;
}
