// The command field's history file: read as the dialog reads it, stepped through with Up and
// Down, then written with one more command and read back. The input: a byte whose bits are
// eight presses (1 Up, 0 Down), then the file.

#include "framework/win32/controls/EditHistory.h"
#include "fuzz/Expect.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// Never destroyed: the folder is removed at exit, after the statics.
const QString& Folder() {
    static const QString* folder = [] {
        QByteArray root = QDir::tempPath().toLocal8Bit() + "/morvik-history-XXXXXX";
        return new QString(QString::fromLocal8Bit(mkdtemp(root.data())));
    }();
    return *folder;
}

// Where a history with this file begins, as a new field's.
QStringList Read(const QString& path) {
    QLineEdit edit;
    return (new EditHistory(&edit, path))->Entries();
}

} // namespace

// Fontconfig keeps its patterns as offsets from their block, which LeakSanitizer cannot follow,
// so what it caches looks lost: at the font database's first load and at each fallback font a
// new character needs. Built into the harness, so that it holds however the harness is run,
// whatever LSAN_OPTIONS says, and only here; a leak of ours still shows, its allocation being
// ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "edit_history";
    static char* argv[] = {name, nullptr};
    // Never destroyed: the fuzzer ends with exit(), after which Qt cannot end an application.
    new QApplication(argc, argv);
    // The font database loads here rather than inside the first input.
    QLineEdit("SEND").sizeHint();
    Folder();
    std::atexit([] { QDir(Folder()).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString path = Folder() + "/history";
    {
        QFile file(path);
        Expect(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "a file to fuzz");
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
    }

    QStringList before;
    {
        QLineEdit edit;
        auto* history = new EditHistory(&edit, path);
        before = history->Entries();
        Expect(before.size() <= EditHistory::kMaxEntries, "no more entries than kept");
        for (const QString& entry : before)
            Expect(!entry.isEmpty() && !entry.contains('\n'), "one line each");
        for (int press = 0; press < 8; ++press) {
            QKeyEvent key(QEvent::KeyPress, (data[0] >> press) & 1 ? Qt::Key_Up : Qt::Key_Down,
                          Qt::NoModifier);
            QApplication::sendEvent(&edit, &key);
            Expect(edit.text().isEmpty() || before.contains(edit.text()),
                   "the field shows an entry or what was typed");
        }
        // The field going writes the file at once.
        history->Add("SEND");
    }
    QStringList expected = before;
    if (expected.isEmpty() || expected.first() != "SEND")
        expected.prepend("SEND");
    while (expected.size() > EditHistory::kMaxEntries)
        expected.removeLast();
    Expect(Read(path) == expected, "the history back as it was written");
    return 0;
}
