#include "core/TextCodec.h"

#include <cstdio>
#include <utility>

namespace {

// 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool Continuation(unsigned char b, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return b >= lo && b <= hi;
}

// A control character, which a message names by number only.
bool Control(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

const char* TextCodec::Name(Encoding encoding) {
    switch (encoding) {
    case Encoding::Windows1252:
        return "windows-1252";
    case Encoding::Utf8:
        return "utf-8";
    case Encoding::Auto:
        break;
    }
    return "auto";
}

char32_t TextCodec::FromWindows1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

bool TextCodec::ToWindows1252(char32_t c, unsigned char* pByte) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *pByte = static_cast<unsigned char>(c);
        return true;
    }
    for (unsigned k = 0; k < 32; ++k) {
        if (kHigh[k] == c) {
            *pByte = static_cast<unsigned char>(0x80 + k);
            return true;
        }
    }
    return false;
}

std::size_t TextCodec::Sequence(const std::string& bytes, std::size_t at, char32_t* pC) {
    const std::size_t left = bytes.size() - at;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        *pC = lead;
        return 1;
    }
    // The second byte's range depends on the lead: it rules out overlong forms, surrogates and
    // what lies beyond U+10FFFF.
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || !Continuation(b(1), lo, hi))
        return 0;
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (!Continuation(b(i)))
            return 0;
        c = (c << 6) | (b(i) & 0x3F);
    }
    *pC = c;
    return length;
}

void TextCodec::AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool TextCodec::IsUtf8(const std::string& bytes) {
    char32_t c = 0;
    for (std::size_t at = 0, n = 0; at < bytes.size(); at += n) {
        n = Sequence(bytes, at, &c);
        if (n == 0)
            return false;
    }
    return true;
}

bool TextCodec::IsUtf8Text(const std::string& bytes) {
    bool multiByte = false;
    char32_t c = 0;
    for (std::size_t at = 0, n = 0; at < bytes.size(); at += n) {
        n = Sequence(bytes, at, &c);
        if (n == 0)
            return false;
        multiByte = multiByte || n > 1;
    }
    return multiByte;
}

std::string TextCodec::Decode(const std::string& bytes, Encoding encoding) {
    const bool utf8 =
        encoding == Encoding::Utf8 || (encoding == Encoding::Auto && IsUtf8Text(bytes));
    std::string out;
    out.reserve(bytes.size());
    char32_t c = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        if (!utf8) {
            AppendUtf8(out, FromWindows1252(static_cast<unsigned char>(bytes[at++])));
            continue;
        }
        const std::size_t n = Sequence(bytes, at, &c);
        AppendUtf8(out, n == 0 ? kReplacement : c);
        at += n == 0 ? 1 : n;
    }
    return out;
}

bool TextCodec::Encode(const std::string& text, Encoding encoding, std::string* pBytes,
                       std::string* pWhy) {
    std::string out;
    out.reserve(text.size());
    char32_t c = 0;
    for (std::size_t at = 0, n = 0; at < text.size(); at += n) {
        n = Sequence(text, at, &c);
        if (n == 0) {
            *pWhy = "not UTF-8 text";
            return false;
        }
        if (encoding == Encoding::Utf8) {
            out.append(text, at, n);
            continue;
        }
        unsigned char byte = 0;
        if (!ToWindows1252(c, &byte)) {
            char number[16];
            std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(c));
            *pWhy = std::string(number) + (Control(c) ? "" : " " + text.substr(at, n)) +
                    " is not in " + Name(Encoding::Windows1252);
            return false;
        }
        out += static_cast<char>(byte);
    }
    *pBytes = std::move(out);
    return true;
}
