#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the ANSI code page of U.S. English: how 8-bit program text crosses into Qt.
class AnsiCodePage {
public:
    // Every byte is one character (the five unassigned bytes map to the C1 controls).
    static QString ToUnicode(const char* psz, int nLength = -1);
    // Characters the code page cannot hold become '?'.
    static QByteArray FromUnicode(const QString& str);
};
