#include "framework/win32/AnsiCodePage.h"
#include "framework/win32/Handles.h"
#include "framework/win32/ReturnFocus.h"
#include "framework/win32/WinUser.h"

#include <QApplication>
#include <QMessageBox>

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    QWidget* pOwner = WidgetOf(hWnd);
    if (!pOwner)
        pOwner = QApplication::activeModalWidget();
    if (!pOwner)
        pOwner = QApplication::activeWindow();
    QMessageBox box((uType & MB_ICONEXCLAMATION) ? QMessageBox::Warning : QMessageBox::NoIcon,
                    AnsiCodePage::ToUnicode(lpCaption), AnsiCodePage::ToUnicode(lpText),
                    QMessageBox::Ok, pOwner);
    box.exec();
    ReturnFocus(pOwner);
    return IDOK;
}
