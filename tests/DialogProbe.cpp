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
//   dialog_probe frames <window id> <dialog id> <picture>
//       saves the window as the picture and looks at the frame of each template item that has
//       one (bordered fields and lists, push buttons, group boxes): prints the items whose
//       frame lacks an edge, with the edges; exit status 0 when every frame is whole

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Resources.h"
#include "framework/win32/WinUser.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <strings.h>

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

// Whether a line of the frame runs along the edge from a to b (device pixels): at every point
// of its middle three fifths, a pixel darker than the dialog's background lies within `band`
// pixels across the edge.
bool EdgeDrawn(const QImage& image, QPoint a, QPoint b, int band, int background) {
    const QPoint along = a.x() == b.x() ? QPoint(0, 1) : QPoint(1, 0);
    const QPoint across(along.y(), along.x());
    const int length = a.x() == b.x() ? b.y() - a.y() : b.x() - a.x();
    for (int t = length / 5; t <= length - length / 5; ++t) {
        bool found = false;
        for (int d = -band; d <= band && !found; ++d) {
            const QPoint p = a + along * t + across * d;
            found = image.valid(p) && qGray(image.pixel(p)) <= background - 0x18;
        }
        if (!found)
            return false;
    }
    return true;
}

int Frames(WId window, UINT nID, const char* pszPicture) {
    const DialogTemplate* pTemplate = CResources::FindDialog(nID);
    if (!pTemplate)
        return 2;
    const DialogWindow dialog(*pTemplate, nullptr);
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
    if (image.isNull() || !image.save(pszPicture))
        return 2;
    // Device pixels per pixel of the layout, whatever the scale; a frame's line may lie up to
    // two pixels of the layout in from the control's edge (a group box's etched one does).
    const double ratio = double(image.width()) / dialog.UnitsToPixelsX(pTemplate->cx);
    const int band = int(std::ceil(2 * ratio));
    const auto device = [ratio](int pixels) { return int(std::lround(pixels * ratio)); };
    const int background = qGray(image.pixel(1, 1));
    int status = 0;
    for (int i = 0; i < pTemplate->itemCount; ++i) {
        const DialogTemplate::Item& item = pTemplate->items[i];
        const bool isButton = strcasecmp(item.cls, "button") == 0;
        const bool isGroup = isButton && (item.style & BS_TYPEMASK) == BS_GROUPBOX;
        const bool bordered =
            (strcasecmp(item.cls, "edit") == 0 || strcasecmp(item.cls, "listbox") == 0) &&
            (item.style & WS_BORDER);
        if (!isButton && !bordered)
            continue;
        // Where the dialog puts the control; a group box's frame starts half its title's
        // height down, and the title breaks its top edge.
        const int x = dialog.UnitsToPixelsX(item.x), y = dialog.UnitsToPixelsY(item.y);
        const int left = device(x), right = device(x + dialog.UnitsToPixelsX(item.cx)) - 1;
        const int top = device(y + (isGroup ? dialog.fontMetrics().height() / 2 : 0));
        const int bottom = device(y + dialog.UnitsToPixelsY(item.cy)) - 1;
        const struct {
            const char* name;
            QPoint a, b;
        } edges[] = {{"left", {left, top}, {left, bottom}},
                     {"right", {right, top}, {right, bottom}},
                     {isGroup ? nullptr : "top", {left, top}, {right, top}},
                     {"bottom", {left, bottom}, {right, bottom}}};
        std::string missing;
        for (const auto& edge : edges) {
            if (edge.name && !EdgeDrawn(image, edge.a, edge.b, band, background))
                missing += std::string(" ") + edge.name;
        }
        if (!missing.empty()) {
            std::printf("item %d (id %d) lacks its frame's%s edge\n", i, item.id, missing.c_str());
            status = 1;
        }
    }
    return status;
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
    if (argc == 5 && QByteArray(argv[1]) == "frames")
        return Frames(static_cast<WId>(std::strtoull(argv[2], nullptr, 0)),
                      static_cast<UINT>(std::atoi(argv[3])), argv[4]);
    std::fprintf(stderr,
                 "usage: %s items <dialog id> | blank|wide <window> <x> <y> <w> <h> | exclusive "
                 "<tty> | frames <window> <dialog id> <picture>\n",
                 argv[0]);
    return 2;
}
