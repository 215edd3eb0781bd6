#include "framework/win32/AnsiCodePage.h"

#include "framework/win32/WinUser.h"

#include <algorithm>
#include <cstring>

namespace {
// 0x80..0x9F; the rest of the code page equals Latin-1.
const char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Set before any window exists, by a manifest entry's static initialisation.
UINT g_nActive = 1252;
} // namespace

UINT AnsiCodePage::Active() {
    return g_nActive;
}

void AnsiCodePage::SetActive(UINT nCodePage) {
    if (nCodePage == 1252 || nCodePage == CP_UTF8)
        g_nActive = nCodePage;
}

UINT GetACP() {
    return AnsiCodePage::Active();
}

QString AnsiCodePage::ToUnicode(const char* psz, int nLength) {
    if (!psz)
        return QString();
    const int n = nLength < 0 ? static_cast<int>(std::strlen(psz)) : nLength;
    if (g_nActive == CP_UTF8)
        return QString::fromUtf8(psz, n);
    QString out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(psz[i]);
        out += QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b));
    }
    return out;
}

QByteArray AnsiCodePage::FromUnicode(const QString& str) {
    if (g_nActive == CP_UTF8)
        return str.toUtf8();
    QByteArray out;
    out.reserve(str.size());
    for (int i = 0; i < str.size(); ++i) {
        const char16_t u = str[i].unicode();
        // A character beyond the BMP is one character: one '?'.
        if (str[i].isHighSurrogate() && i + 1 < str.size() && str[i + 1].isLowSurrogate())
            ++i;
        char b = '?';
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            b = static_cast<char>(u);
        } else {
            for (int k = 0; k < 32; ++k) {
                if (kHigh[k] == u) {
                    b = static_cast<char>(0x80 + k);
                    break;
                }
            }
        }
        out += b;
    }
    return out;
}

LRESULT AnsiCodePage::AnswerGetText(UINT nMsg, WPARAM wParam, LPARAM lParam, const QString& text) {
    const QByteArray bytes = FromUnicode(text);
    if (nMsg == WM_GETTEXTLENGTH)
        return bytes.size();
    auto* pBuffer = reinterpret_cast<char*>(lParam);
    if (!pBuffer || wParam == 0)
        return 0;
    auto n = std::min(static_cast<std::size_t>(bytes.size()), wParam - 1);
    // A UTF-8 character cut in two would end the text with a byte that is none.
    while (g_nActive == CP_UTF8 && n > 0 && n < static_cast<std::size_t>(bytes.size()) &&
           (static_cast<unsigned char>(bytes[static_cast<qsizetype>(n)]) & 0xC0) == 0x80)
        --n;
    std::memcpy(pBuffer, bytes.constData(), n);
    pBuffer[n] = '\0';
    return static_cast<LRESULT>(n);
}
