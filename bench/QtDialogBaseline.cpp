// Start-up baseline: the least a Qt Widgets program does to show a dialog with a few controls.

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("Qt Baseline Dialog");
    new QPushButton("Open Port", &dialog);
    new QLineEdit(&dialog);
    new QListWidget(&dialog);
    dialog.resize(400, 320);
    return dialog.exec();
}
