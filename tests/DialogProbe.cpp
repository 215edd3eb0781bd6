// Helper of the end-to-end test, run on the same display as the program:
//   dialog_probe items <dialog id>
//       prints "index id x y width height" per template item: where the template places it
//       in the window, in pixels of this display's fonts
//   dialog_probe blank <window id> <x> <y> <width> <height>
//       exit status 0 when that rectangle of the window is one colour, 1 when it is not
//   dialog_probe wide <window id> <x> <y> <width> <height>
//       exit status 0 when a pixel row of that rectangle is marked from its first tenth to its
//       last (a line of text wider than the rectangle), 1 when none is
//   dialog_probe exclusive <tty>
//       prints 1 when the tty is held exclusively (TIOCEXCL), 0 when it is not

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Resources.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int Items(UINT nID) {
    const DialogTemplate* pTemplate = CResources::FindDialog(nID);
    if (!pTemplate)
        return 2;
    const DialogWindow window(*pTemplate, nullptr);
    for (int i = 0; i < pTemplate->itemCount; ++i) {
        const DialogTemplate::Item& item = pTemplate->items[i];
        std::printf("%d %d %d %d %d %d\n", i, item.id, window.UnitsToPixelsX(item.x),
                    window.UnitsToPixelsY(item.y), window.UnitsToPixelsX(item.cx),
                    window.UnitsToPixelsY(item.cy));
    }
    return 0;
}

int Blank(WId window, int x, int y, int cx, int cy) {
    const QImage image =
        QGuiApplication::primaryScreen()->grabWindow(window, x, y, cx, cy).toImage();
    if (image.isNull())
        return 2;
    for (int j = 0; j < image.height(); ++j)
        for (int i = 0; i < image.width(); ++i)
            if (image.pixel(i, j) != image.pixel(0, 0))
                return 1;
    return 0;
}

int Wide(WId window, int x, int y, int cx, int cy) {
    const QImage image =
        QGuiApplication::primaryScreen()->grabWindow(window, x, y, cx, cy).toImage();
    if (image.isNull())
        return 2;
    for (int j = 0; j < image.height(); ++j) {
        int first = -1, last = -1;
        for (int i = 0; i < image.width(); ++i) {
            if (image.pixel(i, j) != image.pixel(0, 0)) {
                first = first < 0 ? i : first;
                last = i;
            }
        }
        if (first >= 0 && first < image.width() / 10 && last >= image.width() * 9 / 10)
            return 0;
    }
    return 1;
}

// Whether a tty is left exclusive: only root may still open it then, as this check does.
int Exclusive(const char* pszTty) {
    const int fd = open(pszTty, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int exclusive = 0;
    if (fd < 0 || ioctl(fd, TIOCGEXCL, &exclusive) != 0) {
        std::perror(pszTty);
        return 2;
    }
    close(fd);
    std::printf("%d\n", exclusive ? 1 : 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "exclusive")
        return Exclusive(argv[2]);
    QApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "items")
        return Items(static_cast<UINT>(std::atoi(argv[2])));
    if (argc == 7 && QByteArray(argv[1]) == "wide")
        return Wide(static_cast<WId>(std::strtoull(argv[2], nullptr, 0)), std::atoi(argv[3]),
                    std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    if (argc == 7 && QByteArray(argv[1]) == "blank")
        return Blank(static_cast<WId>(std::strtoull(argv[2], nullptr, 0)), std::atoi(argv[3]),
                     std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    std::fprintf(
        stderr,
        "usage: %s items <dialog id> | blank|wide <window> <x> <y> <w> <h> | exclusive <tty>\n",
        argv[0]);
    return 2;
}
