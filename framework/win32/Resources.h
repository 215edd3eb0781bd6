#pragma once

#include "core/Types.h"
#include "framework/win32/DialogTemplate.h"
#include "framework/win32/WinTypes.h"

#include <initializer_list>

// The program's manifest, and its dialog templates and icons keyed by resource identifier. Resource
// files register theirs during static initialisation. Strings live in CStringTable.
class CResources {
public:
    static void SetDialog(UINT nID, const DialogTemplate* pTemplate);
    static const DialogTemplate* FindDialog(UINT nID);

    // An icon group: XPM images of its sizes, largest first, and optionally an SVG drawing
    // for the larger sizes a scaled screen asks for (48 to 128 pixels).
    static void SetIcon(UINT nID, std::initializer_list<const char* const*> images,
                        const char* pszSvg = nullptr);
    static HICON FindIcon(UINT nID);

    struct DialogEntry {
        DialogEntry(UINT nID, const DialogTemplate* pTemplate) { SetDialog(nID, pTemplate); }
    };
    // The program's manifest: the ANSI code page it runs with (CP_UTF8; 1252 without one).
    struct ManifestEntry {
        explicit ManifestEntry(UINT nActiveCodePage) { SetActiveCodePage(nActiveCodePage); }
    };
    static void SetActiveCodePage(UINT nCodePage);
    struct IconEntry {
        IconEntry(UINT nID, std::initializer_list<const char* const*> images,
                  const char* pszSvg = nullptr) {
            SetIcon(nID, images, pszSvg);
        }
    };
};
