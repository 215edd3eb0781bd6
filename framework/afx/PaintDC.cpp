#include "framework/afx/PaintDC.h"

#include "framework/afx/Wnd.h"

#include <QPainter>
#include <QWidget>

CPaintDC::CPaintDC(CWnd* pWnd) {
    if (pWnd && pWnd->m_hWnd) {
        m_painter = std::make_unique<QPainter>(pWnd->m_hWnd);
        m_hDC = m_painter.get();
    }
}

CPaintDC::~CPaintDC() = default;
