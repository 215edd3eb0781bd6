// Built with the include path of a floor above the platform (afx, dialog, app), where it must
// fail: Qt is the platform's, and nothing above it can include a Qt header.
#include <QWidget>
