// Writes what a Linux desktop needs to list and launch the program, from the program's own
// version block and icons: the .desktop entry, the AppStream metainfo and the icon images
// (16 and 32 pixels from the program's bitmaps, larger sizes drawn from the scalable icon).
// Usage: desktop-files <output folder> <scalable icon.svg>

#include "app/ProjectVersion.h"
#include "app/VersionInfo.h"

#include "dialog/res/MainFrame16.xpm"
#include "dialog/res/MainFrame32.xpm"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char kId[] = "com.morvik.MorvikSerialDemo";

std::string Xml(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += *p;
        }
    }
    return out;
}

bool SaveScalable(const char* svg, int size, const std::string& file) {
    QSvgRenderer renderer{QString::fromLocal8Bit(svg)};
    if (!renderer.isValid())
        return false;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image.save(QString::fromStdString(file));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output folder> <scalable icon.svg>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const CVersionInfo& v = CVersionInfo::Get();
    const std::string version =
        std::to_string(v.fileVersion[0]) + "." + std::to_string(v.fileVersion[1]) + "." +
        std::to_string(v.fileVersion[2]) + "." + std::to_string(v.fileVersion[3]);

    std::ofstream desktop(dir + "/" + kId + ".desktop");
    desktop << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Morvik Serial Demo\n"
               "GenericName=Serial Terminal\n"
               "Comment=Send commands to a serial device and read its replies\n"
               "Exec=MorvikSerialDemo\n"
               "Icon="
            << kId
            << "\n"
               "Terminal=false\n"
               // The window's WM_CLASS, so that docks match the window to this entry.
               "StartupWMClass=MorvikSerialDemo\n"
               "Categories=Development;Electronics;\n"
               "Keywords=serial;COM;RS-232;tty;terminal;\n";

    std::ofstream meta(dir + "/" + kId + ".metainfo.xml");
    meta << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<component type=\"desktop-application\">\n"
            "  <id>"
         << kId
         << "</id>\n"
            "  <metadata_license>CC0-1.0</metadata_license>\n"
            "  <project_license>MIT</project_license>\n"
            "  <name>Morvik Serial Demo</name>\n"
            "  <summary>Send commands to a serial device and read its replies</summary>\n"
            "  <developer_name>"
         << Xml(v.Find("CompanyName"))
         << "</developer_name>\n"
            "  <description>\n"
            "    <p>Morvik Serial Demo talks to an instrument or another device on a serial "
            "line, one command at a time. Choose a port, open it, type a command and press "
            "Send: the device's one-line reply is added to a list, or \"Serial Error\" when "
            "none comes within a second.</p>\n"
            "    <p>The line runs at 19200 baud, 8 data bits, no parity and one stop bit; "
            "commands and replies end with a carriage return. Ports 1 to 4 are the machine's "
            "serial ports, built-in ones first and then USB adapters, unless you pin a port "
            "to a device with the morvik-ports command. The morvik-simdevice command plays a "
            "device to try the program without hardware.</p>\n"
            "  </description>\n"
            "  <launchable type=\"desktop-id\">"
         << kId
         << ".desktop</launchable>\n"
            "  <url type=\"homepage\">" MORVIK_HOMEPAGE_URL "</url>\n"
            "  <screenshots>\n"
            "    <screenshot type=\"default\">\n"
            "      <caption>The main window with replies from the simulated device</caption>\n"
            "      <image>" MORVIK_HOMEPAGE_URL "/docs/dialog.png</image>\n"
            "    </screenshot>\n"
            "  </screenshots>\n"
            "  <provides>\n"
            "    <binary>MorvikSerialDemo</binary>\n"
            "    <binary>morvik-ports</binary>\n"
            "    <binary>morvik-simdevice</binary>\n"
            "  </provides>\n"
            "  <content_rating type=\"oars-1.1\"/>\n"
            "  <releases>\n"
            "    <release version=\""
         << version
         << "\" date=\"" MORVIK_RELEASE_DATE "\"/>\n"
            "  </releases>\n"
            "</component>\n";

    bool ok = desktop.good() && meta.good() &&
              QImage(MainFrame16_xpm).save(QString::fromStdString(dir + "/" + kId + "-16.png")) &&
              QImage(MainFrame32_xpm).save(QString::fromStdString(dir + "/" + kId + "-32.png"));
    for (int size : {48, 64, 128, 256})
        ok = ok &&
             SaveScalable(argv[2], size, dir + "/" + kId + "-" + std::to_string(size) + ".png");
    return ok ? 0 : 1;
}
