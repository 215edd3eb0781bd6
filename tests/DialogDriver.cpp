#include "tests/DialogDriver.h"

#include "dialog/resource.h"
#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/controls/ListBoxControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

INT_PTR DialogDriver::Run(const std::function<void()>& body) {
    // Answers message boxes as they appear, for as long as the dialog runs.
    QTimer boxes;
    boxes.setInterval(20);
    QObject::connect(&boxes, &QTimer::timeout, [this] {
        if (auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            m_messages << box->windowTitle() + ": " + box->text();
            QAbstractButton* answer = box->button(QMessageBox::Ok);
            if (!answer)
                answer = box->defaultButton();
            (answer ? answer : box->buttons().value(0))->click();
        }
    });
    boxes.start();
    QTimer::singleShot(0, [this, body] {
        QWidget* window = Window();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window, 2000))
            ADD_FAILURE() << "the dialog never became active";
        body();
        if (IsWindowVisible(m_dlg.m_hWnd))
            m_dlg.EndDialog(IDCANCEL);
    });
    return m_dlg.DoModal();
}

QWidget* DialogDriver::Window() const {
    return WidgetOf(m_dlg.m_hWnd);
}

QWidget* DialogDriver::Control(int nID) const {
    return WidgetOf(GetDlgItem(m_dlg.m_hWnd, nID));
}

QPoint DialogDriver::ItemCentre(int index) const {
    const auto* pWindow = dynamic_cast<const DialogWindow*>(Window());
    if (!pWindow || index < 0 || index >= pWindow->Template().itemCount)
        return QPoint(-1, -1);
    const DialogTemplate::Item& item = pWindow->Template().items[index];
    return QPoint(pWindow->UnitsToPixelsX(item.x) + pWindow->UnitsToPixelsX(item.cx) / 2,
                  pWindow->ClientTop() + pWindow->UnitsToPixelsY(item.y) +
                      pWindow->UnitsToPixelsY(item.cy) / 2);
}

void DialogDriver::ClickAt(const QPoint& pos, Qt::MouseButton button) {
    if (QWidget* window = Window())
        QTest::mouseClick(window->windowHandle(), button, Qt::NoModifier, pos);
}

void DialogDriver::Click(int nID) {
    if (QWidget* control = Control(nID))
        ClickAt(control->geometry().center());
}

void DialogDriver::ClickOnScreen(const QPoint& globalPos) {
    if (QWindow* window = QGuiApplication::topLevelAt(globalPos))
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, window->mapFromGlobal(globalPos));
}

QPoint DialogDriver::ScreenCentre(int nID) const {
    QWidget* control = Control(nID);
    return control ? control->mapToGlobal(control->rect().center()) : QPoint(-1, -1);
}

void DialogDriver::Type(const QString& text) {
    if (QWidget* window = Window()) {
        for (QChar c : text)
            QTest::keyClick(window->windowHandle(), c.toLatin1());
    }
}

void DialogDriver::SetText(int nID, const QString& text) {
    if (auto* edit = dynamic_cast<QLineEdit*>(Control(nID)))
        edit->setText(text);
}

QString DialogDriver::Text(int nID) const {
    QWidget* w = Control(nID);
    return w ? w->property("text").toString() : QString();
}

bool DialogDriver::Enabled(int nID) const {
    QWidget* w = Control(nID);
    return w && w->isEnabled();
}

QStringList DialogDriver::Lines() const {
    const auto* list = dynamic_cast<ListBoxControl*>(Control(IDC_RESPONSE_LIST));
    return list ? LinesOf(*list) : QStringList();
}

QStringList DialogDriver::LinesOf(const ListBoxControl& list) {
    QStringList lines;
    for (int i = 0; i < list.Count(); ++i)
        lines << list.Text(i);
    return lines;
}

void DialogDriver::Key(int key, Qt::KeyboardModifiers modifiers) {
    if (QWidget* window = Window())
        QTest::keyClick(window->windowHandle(), static_cast<Qt::Key>(key), modifiers);
}

QStringList DialogDriver::TakeMessages() {
    QStringList out;
    out.swap(m_messages);
    return out;
}

void DialogDriver::Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
