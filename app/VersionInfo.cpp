#include "app/VersionInfo.h"

#include <cstring>

namespace {

const CVersionInfo::StringEntry kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "Morvik"},
    {"FileDescription", "MorvikSerialDemo MFC Application"},
    {"FileVersion", "1, 0, 0, 1"},
    {"InternalName", "MorvikSerialDemo"},
    {"LegalCopyright", "Copyright (C) 2026 Morvik"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "MorvikSerialDemo.EXE"},
    {"PrivateBuild", ""},
    {"ProductName", "MorvikSerialDemo Application"},
    {"ProductVersion", "1, 0, 0, 1"},
    {"SpecialBuild", ""},
};

const CVersionInfo kVersion = {
    {1, 0, 0, 1},
    {1, 0, 0, 1},
    0x3F,
    0,
    0x4, // 32-bit Windows
    0x1, // application
    0,
    "040904b0",
    kStrings,
    static_cast<int>(sizeof kStrings / sizeof kStrings[0]),
    0x0409,
    0x04B0,
};

} // namespace

const char* CVersionInfo::Find(const char* key) const {
    for (int i = 0; i < stringCount; ++i) {
        if (std::strcmp(strings[i].key, key) == 0)
            return strings[i].value;
    }
    return nullptr;
}

const CVersionInfo& CVersionInfo::Get() {
    return kVersion;
}
