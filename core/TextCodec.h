#pragma once

#include <string>

// Text between the bytes of a serial line and the people who read and type it: Windows-1252,
// UTF-8, and the rule that picks one of them for a reply. Text on the people's side is UTF-8.
class TextCodec {
public:
    enum class Encoding {
        Auto,        // a reply that is UTF-8 with a multi-byte sequence in it is UTF-8, any
                     // other Windows-1252; commands go out in Windows-1252
        Windows1252, // both ways
        Utf8,        // both ways
    };

    // "auto", "windows-1252", "utf-8": as a profile and a person name them.
    static const char* Name(Encoding encoding);

    // The character a Windows-1252 byte stands for; the five bytes the code page leaves
    // unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number.
    static char32_t FromWindows1252(unsigned char byte);
    // The byte of a character in Windows-1252; false when the code page has none.
    static bool ToWindows1252(char32_t c, unsigned char* pByte);

    // Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool IsUtf8(const std::string& bytes);
    // The auto rule's test: well-formed UTF-8 that holds at least one multi-byte sequence (plain
    // ASCII reads the same both ways).
    static bool IsUtf8Text(const std::string& bytes);

    // A reply's bytes as UTF-8 text. Utf8: each byte that is not part of a well-formed sequence
    // becomes U+FFFD; Windows1252: each byte one character; Auto: by the rule.
    static std::string Decode(const std::string& bytes, Encoding encoding);
    // A command's UTF-8 text as the bytes of the encoding (Auto: Windows-1252). False, with
    // what is wrong in *pWhy, when the text is not UTF-8 or holds a character the encoding
    // cannot carry: "U+2713 ✓ is not in windows-1252" (the first such character).
    static bool Encode(const std::string& text, Encoding encoding, std::string* pBytes,
                       std::string* pWhy);

    // U+FFFD, which stands for a byte that is no character.
    static constexpr char32_t kReplacement = 0xFFFD;

private:
    // The character of the well-formed sequence at bytes[at], and its length; 0 when there is
    // none there.
    static std::size_t Sequence(const std::string& bytes, std::size_t at, char32_t* pC);
    static void AppendUtf8(std::string& out, char32_t c);
};
