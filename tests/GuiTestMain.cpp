// Entry of the GUI tests: an offscreen Qt application around GoogleTest.

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // What the dialogs keep between runs (the command history) stays with the tests.
    const QTemporaryDir state;
    setenv("XDG_STATE_HOME", qPrintable(state.path()), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
