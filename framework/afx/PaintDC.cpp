#include "framework/afx/PaintDC.h"

#include "framework/afx/Wnd.h"

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    if (m_hDC)
        ::EndPaint(m_hWnd, &m_ps);
}
