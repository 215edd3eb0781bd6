#pragma once

#include "core/Types.h"

// The version block (resource 1): fixed fields and the U.S. English string table.
class CVersionInfo {
public:
    struct StringEntry {
        const char* key;
        const char* value;
    };

    WORD fileVersion[4];
    WORD productVersion[4];
    DWORD fileFlagsMask;
    DWORD fileFlags;
    DWORD fileOS;
    DWORD fileType;
    DWORD fileSubtype;
    const char* stringTableKey; // language and code page of the strings
    const StringEntry* strings; // in alphabetical order of their keys
    int stringCount;
    WORD translationLanguage;
    WORD translationCodePage;

    // The value of a string entry, or null.
    const char* Find(const char* key) const;

    static const CVersionInfo& Get();
};
