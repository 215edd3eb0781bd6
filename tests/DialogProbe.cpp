// Helper of the end-to-end test, run on the same display as the program:
//   dialog_probe items <dialog id>
//       prints "index id x y width height" per template item: where the template places it
//       in the window, in pixels of this display's fonts
//   dialog_probe blank <window id> <x> <y> <width> <height>
//       exit status 0 when that rectangle of the window (0: the screen) is one colour, 1 when
//       it is not
//   dialog_probe wide <window id> <x> <y> <width> <height>
//       exit status 0 when a pixel row of that rectangle is marked from its first tenth to its
//       last (a line of text wider than the rectangle), 1 when none is
//   dialog_probe exclusive <tty>
//       prints 1 when the tty is held exclusively (TIOCEXCL), 0 when it is not
//   dialog_probe shot <file.png>
//       writes a picture of the whole screen
//   dialog_probe locate <dialog id>
//       prints "x y", where on the screen the dialog's inside begins, found by its largest white
//       area (an empty list), for a display that does not say where windows are (Wayland)
//   dialog_probe size <dialog id>
//       prints "width height" of the dialog's inside, in pixels of this display's fonts
//   dialog_probe balloon <picture>
//       finds the balloon tip in the picture by its colour: prints "left top right bottom x y",
//       the bounds of its largest area of that colour and its tail's tip; exit status 1 when
//       there is none
//   dialog_probe differs <a.png> <b.png>
//       prints how many pixels of two pictures of the same size differ
//   dialog_probe ping <window id>
//       sends an X11 window the window manager's _NET_WM_PING and prints in how many ms its
//       program answered; exit status 1 when no answer came within 5 s
//   dialog_probe frames <window id> <dialog id> <picture>
//       saves the window as the picture and looks at the frame of each template item that has
//       one (bordered fields and lists, push buttons, group boxes): prints the items whose
//       frame lacks an edge, with the edges; exit status 0 when every frame is whole

#include "framework/win32/DialogWindow.h"
#include "framework/win32/Handles.h"
#include "framework/win32/Resources.h"
#include "framework/win32/WinUser.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>

#include <iterator>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <chrono>
#include <string>

#include <strings.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

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

// The bounding box of the largest area of pixels of one colour joined side by side.
QRect LargestArea(const QImage& image, QRgb colour) {
    const int w = image.width();
    const int h = image.height();
    std::vector<bool> seen(static_cast<std::size_t>(w) * h);
    const auto same = [&](int x, int y) {
        return (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    };
    QRect best;
    long bestCount = 0;
    std::vector<QPoint> todo;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            if (seen[static_cast<std::size_t>(y0) * w + x0] || !same(x0, y0))
                continue;
            QRect box(x0, y0, 1, 1);
            long count = 0;
            todo.assign(1, QPoint(x0, y0));
            seen[static_cast<std::size_t>(y0) * w + x0] = true;
            while (!todo.empty()) {
                const QPoint p = todo.back();
                todo.pop_back();
                ++count;
                box |= QRect(p, QSize(1, 1));
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    const std::size_t at = static_cast<std::size_t>(q.y()) * w + q.x();
                    if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h || seen[at] ||
                        !same(q.x(), q.y()))
                        continue;
                    seen[at] = true;
                    todo.push_back(q);
                }
            }
            if (count > bestCount) {
                bestCount = count;
                best = box;
            }
        }
    }
    return best;
}

QRect LargestWhite(const QImage& image) {
    return LargestArea(image, 0xFFFFFF);
}

// The dialog drawn here, from its template, and the screen: the same white area in both gives
// where the dialog's inside lies on the screen.
int Locate(UINT nID) {
    const HWND hDlg = CreateDialogIndirectA(nullptr, CResources::FindDialog(nID), nullptr);
    QWidget* pDialog = WidgetOf(hDlg);
    if (!pDialog)
        return 2;
    const QRect own = LargestWhite(pDialog->grab().toImage());
    const QRect there = LargestWhite(QGuiApplication::primaryScreen()->grabWindow(0).toImage());
    DestroyWindow(hDlg);
    if (own.isEmpty() || there.size() != own.size())
        return 1;
    std::printf("%d %d\n", there.x() - own.x(), there.y() - own.y());
    return 0;
}

int Size(UINT nID) {
    const DialogTemplate* pTemplate = CResources::FindDialog(nID);
    if (!pTemplate)
        return 2;
    const DialogWindow window(*pTemplate, nullptr);
    std::printf("%d %d\n", window.UnitsToPixelsX(pTemplate->cx),
                window.UnitsToPixelsY(pTemplate->cy));
    return 0;
}

// The balloon's body is a rectangle; its tail leaves one side of it: on that edge of the area's
// bounds lie the few pixels of the tail's end, on the others the body's long edges.
int Balloon(const char* pszPicture) {
    const QImage image(QString::fromLocal8Bit(pszPicture));
    if (image.isNull())
        return 2;
    const QRgb colour = QToolTip::palette().color(QPalette::ToolTipBase).rgb();
    const QRect box = LargestArea(image, colour);
    if (box.width() < 20 || box.height() < 20)
        return 1;
    const auto same = [&](QPoint p) { return (image.pixel(p) & 0xFFFFFF) == (colour & 0xFFFFFF); };
    QPoint tip;
    int fewest = INT_MAX;
    const struct {
        QPoint from, step;
        int length;
    } edges[] = {{box.topLeft(), {1, 0}, box.width()},
                 {box.bottomLeft(), {1, 0}, box.width()},
                 {box.topLeft(), {0, 1}, box.height()},
                 {box.topRight(), {0, 1}, box.height()}};
    QPoint out;
    for (std::size_t k = 0; k < std::size(edges); ++k) {
        const auto& edge = edges[k];
        int n = 0;
        QPoint sum;
        for (int i = 0; i < edge.length; ++i) {
            const QPoint p = edge.from + edge.step * i;
            if (same(p)) {
                ++n;
                sum += p;
            }
        }
        if (n > 0 && n < fewest) {
            fewest = n;
            tip = sum / n;
            out = k == 0   ? QPoint(0, -1)
                  : k == 1 ? QPoint(0, 1)
                  : k == 2 ? QPoint(-1, 0)
                           : QPoint(1, 0);
        }
    }
    // Where the tail narrows to a point its fill gives way to its outline's ink: follow that
    // out to where it ends.
    const QPoint across(out.y(), out.x());
    for (int step = 0; step < 60; ++step) {
        int darkest = 0xE0;
        QPoint next;
        for (int d = -2; d <= 2; ++d) {
            const QPoint q = tip + out + across * d;
            if (image.valid(q) && qGray(image.pixel(q)) < darkest) {
                darkest = qGray(image.pixel(q));
                next = q;
            }
        }
        if (next.isNull())
            break;
        tip = next;
    }
    std::printf("%d %d %d %d %d %d\n", box.left(), box.top(), box.right(), box.bottom(), tip.x(),
                tip.y());
    return 0;
}

int Differs(const char* pszA, const char* pszB) {
    const QImage a(QString::fromLocal8Bit(pszA));
    const QImage b(QString::fromLocal8Bit(pszB));
    if (a.isNull() || a.size() != b.size())
        return 2;
    long n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    std::printf("%ld\n", n);
    return 0;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : 0;
    std::free(reply);
    return atom;
}

// As a window manager asks whether a window's program still runs: the answer comes back to the
// root window, which this connection listens to.
int Ping(xcb_window_t window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 2;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    const xcb_atom_t ping = Atom(c, "_NET_WM_PING");
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocols;
    message.data.data32[0] = ping;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = window;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    const auto start = std::chrono::steady_clock::now();
    const auto ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    int result = 1;
    while (result == 1 && ms() < 5000) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            pollfd pfd{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&pfd, 1, static_cast<int>(5000 - ms()));
            continue;
        }
        const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE && answer->type == protocols &&
            answer->data.data32[0] == ping && answer->data.data32[2] == window) {
            std::printf("%lld\n", static_cast<long long>(ms()));
            result = 0;
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return result;
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
    if (argc == 3 && QByteArray(argv[1]) == "ping")
        return Ping(static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0)));
    QApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "items")
        return Items(static_cast<UINT>(std::atoi(argv[2])));
    if (argc == 3 && QByteArray(argv[1]) == "locate")
        return Locate(static_cast<UINT>(std::atoi(argv[2])));
    if (argc == 3 && QByteArray(argv[1]) == "size")
        return Size(static_cast<UINT>(std::atoi(argv[2])));
    if (argc == 3 && QByteArray(argv[1]) == "balloon")
        return Balloon(argv[2]);
    if (argc == 4 && QByteArray(argv[1]) == "differs")
        return Differs(argv[2], argv[3]);
    if (argc == 3 && QByteArray(argv[1]) == "shot")
        return QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]))
                   ? 0
                   : 2;
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
                 "<tty> | shot <file> | locate|size <dialog id> | balloon <picture> | differs <a> "
                 "<b> | ping <window> | frames <window> <dialog id> <picture>\n",
                 argv[0]);
    return 2;
}
