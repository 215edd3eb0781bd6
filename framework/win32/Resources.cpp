#include "framework/win32/Resources.h"

#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/Handles.h"
#include "framework/win32/WinUser.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <map>
#include <vector>

namespace {

// Sizes drawn from an icon's SVG: what a screen at scale 2 to 4 asks of a window icon. A
// window's icon goes whole to the display at every start; 256 pixels would double the start-up
// time, and docks take their large icons from the desktop entry's theme icons.
constexpr int kScalableSizes[] = {48, 64, 128};

struct IconImages {
    std::vector<const char* const*> xpms;
    const char* svg = nullptr;
    HICON icon = nullptr; // built on first use, once a GUI application exists
};

std::map<UINT, const DialogTemplate*>& Dialogs() {
    static std::map<UINT, const DialogTemplate*> dialogs;
    return dialogs;
}

std::map<UINT, IconImages>& Icons() {
    // Never destroyed: loaded icons live until the process ends, like the module's own.
    static auto* icons = new std::map<UINT, IconImages>;
    return *icons;
}

} // namespace

void CResources::SetActiveCodePage(UINT nCodePage) {
    AnsiCodePage::SetActive(nCodePage);
}

void CResources::SetDialog(UINT nID, const DialogTemplate* pTemplate) {
    if (pTemplate)
        Dialogs()[nID] = pTemplate;
    else
        Dialogs().erase(nID);
}

const DialogTemplate* CResources::FindDialog(UINT nID) {
    const auto it = Dialogs().find(nID);
    return it == Dialogs().end() ? nullptr : it->second;
}

void CResources::SetIcon(UINT nID, std::initializer_list<const char* const*> images,
                         const char* pszSvg) {
    Icons()[nID].xpms.assign(images.begin(), images.end());
    Icons()[nID].svg = pszSvg;
}

HICON CResources::FindIcon(UINT nID) {
    const auto it = Icons().find(nID);
    if (it == Icons().end())
        return nullptr;
    IconImages& images = it->second;
    if (!images.icon) {
        images.icon = new HICON__;
        for (const char* const* xpm : images.xpms)
            images.icon->addPixmap(QPixmap(xpm));
        QSvgRenderer svg;
        if (images.svg && svg.load(QByteArray(images.svg))) {
            for (int size : kScalableSizes) {
                QPixmap pixmap(size, size);
                pixmap.fill(Qt::transparent);
                QPainter painter(&pixmap);
                svg.render(&painter);
                painter.end();
                images.icon->addPixmap(pixmap);
            }
        }
    }
    return images.icon;
}

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    if (!hInstance || !IS_INTRESOURCE(lpIconName))
        return nullptr;
    return CResources::FindIcon(static_cast<UINT>(reinterpret_cast<std::uintptr_t>(lpIconName)));
}
