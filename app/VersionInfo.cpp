#include "app/VersionInfo.h"

#include "app/ProjectVersion.h"

#include <cstring>

namespace {

const CVersionInfo::StringEntry kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "Morvik"},
    {"FileDescription", "MorvikSerialDemo MFC Application"},
    {"FileVersion", MORVIK_VERSION_COMMAS},
    {"InternalName", "MorvikSerialDemo"},
    {"LegalCopyright", "Copyright (C) 2026 Morvik"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "MorvikSerialDemo.EXE"},
    {"PrivateBuild", ""},
    {"ProductName", "MorvikSerialDemo Application"},
    {"ProductVersion", MORVIK_VERSION_COMMAS},
    {"SpecialBuild", ""},
};

const CVersionInfo kVersion = {
    {MORVIK_VERSION_MAJOR, MORVIK_VERSION_MINOR, MORVIK_VERSION_PATCH, MORVIK_VERSION_TWEAK},
    {MORVIK_VERSION_MAJOR, MORVIK_VERSION_MINOR, MORVIK_VERSION_PATCH, MORVIK_VERSION_TWEAK},
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
