// morvik-send's --raw and --json escaping: printable ASCII that gives every byte back.

#include "cli/SendTool.h"
#include "fuzz/Expect.h"
#include "fuzz/HexDigit.h"

#include <cstdint>
#include <string>

namespace {

// Reads \xHH (raw) or \u00HH (JSON) at text[i] (the letter); false when it is not one.
bool Code(const std::string& text, std::size_t* pI, bool json, std::string* pOut) {
    const std::size_t digits = json ? 4 : 2;
    if (*pI + digits >= text.size())
        return false;
    unsigned code = 0;
    for (std::size_t k = 1; k <= digits; ++k) {
        const int h = HexDigit(text[*pI + k]);
        if (h < 0)
            return false;
        code = code * 16 + static_cast<unsigned>(h);
    }
    // The JSON string stands for bytes: one code point each, never above 0xff.
    if (code > 0xff)
        return false;
    *pOut += static_cast<char>(code);
    *pI += digits;
    return true;
}

// The bytes an escaped text stands for, as a reader of --raw or a JSON parser takes it back;
// false when it is not a text the format allows.
bool Unescape(const std::string& text, bool json, std::string* pBytes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c < 0x20 || c > 0x7e || (json && c == '"'))
            return false;
        if (c != '\\') {
            *pBytes += c;
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case 'r':
            *pBytes += '\r';
            break;
        case 'n':
            *pBytes += '\n';
            break;
        case 't':
            *pBytes += '\t';
            break;
        case '\\':
            *pBytes += '\\';
            break;
        case '"':
            if (!json)
                return false;
            *pBytes += '"';
            break;
        case 'x':
        case 'u':
            if ((text[i] == 'u') != json || !Code(text, &i, json, pBytes))
                return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const bool json : {false, true}) {
        std::string back;
        Expect(Unescape(SendTool::Escape(bytes, json), json, &back),
               json ? "a valid JSON string" : "printable ASCII with the --raw escapes only");
        Expect(back == bytes, "the bytes back");
    }
    return 0;
}
