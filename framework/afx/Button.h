#pragma once

#include "framework/afx/Wnd.h"

// A push button, group box or other button control.
class CButton : public CWnd {};
