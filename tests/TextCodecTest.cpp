#include "core/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Encoding = TextCodec::Encoding;

// Every byte goes to a character and back to itself: the code page is one table both ways.
TEST(TextCodec, Windows1252RoundTripsEveryByte) {
    for (int b = 0; b < 256; ++b) {
        unsigned char back = 0;
        const char32_t c = TextCodec::FromWindows1252(static_cast<unsigned char>(b));
        EXPECT_TRUE(TextCodec::ToWindows1252(c, &back)) << b;
        EXPECT_EQ(b, back);
    }
    EXPECT_EQ(U'\u20AC', TextCodec::FromWindows1252(0x80));
    EXPECT_EQ(U'\u0178', TextCodec::FromWindows1252(0x9F));
    EXPECT_EQ(U'\u0081', TextCodec::FromWindows1252(0x81));
    unsigned char b = 0;
    for (const char32_t c : {U'\u0080', U'\u0100', U'\u2713', U'\U0001F600'})
        EXPECT_FALSE(TextCodec::ToWindows1252(c, &b)) << static_cast<unsigned>(c);
}

TEST(TextCodec, RepliesAreDecodedByTheEncodingRule) {
    const struct {
        std::string bytes;
        Encoding encoding;
        std::string text;
    } cases[] = {
        // auto: UTF-8 with a multi-byte sequence is UTF-8; anything else Windows-1252.
        {"25.0 \xc2\xb0\x43 \xce\xa9", Encoding::Auto, "25.0 \u00b0C \u03a9"},
        {"\xf0\x9f\x98\x80", Encoding::Auto, "\U0001F600"},
        {"25.0 \xb0\x43", Encoding::Auto, "25.0 \u00b0C"},
        {"OK", Encoding::Auto, "OK"},
        {"\xc3\xa9\x80", Encoding::Auto, "\u00c3\u00a9\u20ac"},           // one bad byte: all 1252
        {"\xc0\xaf", Encoding::Auto, "\u00c0\u00af"},                     // overlong
        {"\xed\xa0\x80", Encoding::Auto, "\u00ed\u00a0\u20ac"},           // a surrogate
        {"\xf4\x90\x80\x80", Encoding::Auto, "\u00f4\u0090\u20ac\u20ac"}, // above U+10FFFF
        {"\xc3\xa9", Encoding::Windows1252, "\u00c3\u00a9"},
        // utf-8: a byte that is no part of a well-formed sequence is U+FFFD, one per byte.
        {"\xc3\xa9", Encoding::Utf8, "\u00e9"},
        {"a\xb0z", Encoding::Utf8, "a\ufffdz"},
        {"\xe2\x82", Encoding::Utf8, "\ufffd\ufffd"},
        {"\xe2\x82\xac\xe2", Encoding::Utf8, "\u20ac\ufffd"},
        {"\xc0\xaf", Encoding::Utf8, "\ufffd\ufffd"},
        {"", Encoding::Utf8, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, TextCodec::Decode(c.bytes, c.encoding))
            << c.bytes << " as " << TextCodec::Name(c.encoding);
}

TEST(TextCodec, CommandsAreEncodedOrRefusedNamingTheCharacter) {
    const struct {
        std::string text;
        Encoding encoding;
        std::string bytes; // empty: refused
        std::string why;
    } cases[] = {
        {"MEAS:VOLT?", Encoding::Auto, "MEAS:VOLT?", ""},
        {"SET \u00e9 \u20ac", Encoding::Auto, "SET \xe9 \x80", ""},
        {"SET \u00e9", Encoding::Windows1252, "SET \xe9", ""},
        {"SET \u00e9 \u2713", Encoding::Utf8, "SET \xc3\xa9 \xe2\x9c\x93", ""},
        {"OK \u2713", Encoding::Auto, "", "U+2713 \u2713 is not in windows-1252"},
        {"\u03a9", Encoding::Windows1252, "", "U+03A9 \u03a9 is not in windows-1252"},
        {"\U0001F600", Encoding::Auto, "", "U+1F600 \U0001F600 is not in windows-1252"},
        {"\u0085", Encoding::Auto, "", "U+0085 is not in windows-1252"}, // a control: by number
        {"a\xb0", Encoding::Utf8, "", "not UTF-8 text"},
    };
    for (const auto& c : cases) {
        std::string bytes = "unchanged", why;
        const bool ok = TextCodec::Encode(c.text, c.encoding, &bytes, &why);
        EXPECT_EQ(c.why.empty(), ok) << c.text;
        EXPECT_EQ(c.why.empty() ? c.bytes : "unchanged", bytes) << c.text;
        EXPECT_EQ(c.why, why) << c.text;
    }
}

} // namespace
