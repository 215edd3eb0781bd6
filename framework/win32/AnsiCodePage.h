#pragma once

#include "framework/win32/WinTypes.h"

#include <QByteArray>
#include <QString>

// Windows-1252, the ANSI code page of U.S. English: how 8-bit program text crosses into Qt.
class AnsiCodePage {
public:
    // Every byte is one character (the five unassigned bytes map to the C1 controls).
    static QString ToUnicode(const char* psz, int nLength = -1);
    // Characters the code page cannot hold become '?'.
    static QByteArray FromUnicode(const QString& str);
    // WM_GETTEXTLENGTH and WM_GETTEXT answered from a window's text: its length in bytes, or
    // the bytes copied to the buffer in lParam (at most wParam - 1 of them, then a zero).
    static LRESULT AnswerGetText(UINT nMsg, WPARAM wParam, LPARAM lParam, const QString& text);
};
