#include "framework/win32/controls/ControlClass.h"

#include "framework/win32/AnsiCodePage.h"

#include <strings.h>

const ControlClass* FindControlClass(const char* pszName) {
    static const ControlClass* const kClasses[] = {&kButtonClass, &kEditClass, &kStaticClass,
                                                   &kListBoxClass};
    for (const ControlClass* pClass : kClasses) {
        if (pszName && strcasecmp(pClass->name, pszName) == 0)
            return pClass;
    }
    return nullptr;
}

QString StaticText(const char* psz, bool bNoPrefix) {
    const QString text = AnsiCodePage::ToUnicode(psz);
    if (bNoPrefix)
        return text;
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}
