// Start-up baseline: the least a Qt Widgets program does to show a dialog with the main dialog's
// controls (four buttons, two fields, a list, three labels, a group box) at about its size.

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

// Dialog units to pixels at about the program's font.
QRect Box(int x, int y, int cx, int cy) {
    return QRect(x * 7 / 4, y * 13 / 8, cx * 7 / 4, cy * 13 / 8);
}

template <class W> W* Place(W* w, int x, int y, int cx, int cy) {
    w->setGeometry(Box(x, y, cx, cy));
    return w;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("Qt Baseline Dialog");
    dialog.setFixedSize(Box(0, 0, 227, 199).size());
    Place(new QPushButton("Open Port", &dialog), 35, 15, 45, 15);
    Place(new QLineEdit(&dialog), 45, 60, 105, 15);
    Place(new QLabel("Send", &dialog), 5, 60, 30, 10);
    Place(new QLabel("Response", &dialog), 5, 95, 35, 10);
    Place(new QPushButton("Send", &dialog), 170, 60, 50, 15);
    Place(new QPushButton("Clear", &dialog), 170, 95, 50, 15);
    Place(new QListWidget(&dialog), 45, 95, 105, 95);
    Place(new QLineEdit("1", &dialog), 70, 35, 40, 15);
    Place(new QLabel("Port", &dialog), 45, 40, 15, 10);
    Place(new QPushButton("Close Port", &dialog), 85, 15, 45, 15)->setEnabled(false);
    Place(new QGroupBox("Port Settings", &dialog), 20, 5, 130, 50);
    return dialog.exec();
}
