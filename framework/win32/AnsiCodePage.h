#pragma once

#include "framework/win32/WinTypes.h"

#include <QByteArray>
#include <QString>

// The program's ANSI code page: how its 8-bit text crosses into Qt. Windows-1252, the code page
// of U.S. English, unless the program's manifest asks for UTF-8 (CResources::ManifestEntry).
class AnsiCodePage {
public:
    static UINT Active();
    // 1252 or CP_UTF8; any other page leaves the active one as it is.
    static void SetActive(UINT nCodePage);

    // Windows-1252: every byte is one character (the five unassigned bytes map to the C1
    // controls). UTF-8: a byte that is no part of a valid sequence shows as U+FFFD.
    static QString ToUnicode(const char* psz, int nLength = -1);
    // Windows-1252: characters the code page cannot hold become '?'.
    static QByteArray FromUnicode(const QString& str);
    // WM_GETTEXTLENGTH and WM_GETTEXT answered from a window's text: its length in bytes, or
    // the bytes copied to the buffer in lParam (at most wParam - 1 of them, never part of a
    // character, then a zero).
    static LRESULT AnswerGetText(UINT nMsg, WPARAM wParam, LPARAM lParam, const QString& text);
};
