#include "framework/win32/AnsiCodePage.h"

#include "core/TextCodec.h"
#include "framework/win32/WinUser.h"

#include <algorithm>
#include <cstring>

namespace {
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
        out += QChar(static_cast<char16_t>(TextCodec::FromWindows1252(b)));
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
        unsigned char b = 0;
        // A surrogate is in no code page.
        const bool held = !str[i].isSurrogate() && TextCodec::ToWindows1252(u, &b);
        out += held ? static_cast<char>(b) : '?';
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
