#include "core/OneLine.h"

std::string OneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f)
            shown += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
        else
            shown += c;
    }
    return shown;
}
