// Writes what a Linux desktop needs to list and launch the program, from the program's own
// version block and icon: the .desktop entry, the AppStream metainfo and the icon images.
// Usage: desktop-files <output folder>

#include "app/VersionInfo.h"

#include "dialog/res/MainFrame16.xpm"
#include "dialog/res/MainFrame32.xpm"

#include <QImage>

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
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
               "Categories=Development;Electronics;\n"
               "Keywords=serial;COM;RS-232;tty;terminal;\n";

    std::ofstream meta(dir + "/" + kId + ".metainfo.xml");
    meta << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<component type=\"desktop-application\">\n"
            "  <id>"
         << kId
         << "</id>\n"
            "  <metadata_license>CC0-1.0</metadata_license>\n"
            "  <project_license>LicenseRef-proprietary</project_license>\n"
            "  <name>Morvik Serial Demo</name>\n"
            "  <summary>Send commands to a serial device and read its replies</summary>\n"
            "  <developer_name>"
         << Xml(v.Find("CompanyName"))
         << "</developer_name>\n"
            "  <description>\n"
            "    <p>"
         << Xml(v.Find("ProductName")) << " " << version << ": " << Xml(v.Find("FileDescription"))
         << ". Open a serial port, type a command and press "
            "Send: the device's one-line reply is added to a list, or \"Serial Error\" when none "
            "comes.</p>\n"
            "  </description>\n"
            "  <launchable type=\"desktop-id\">"
         << kId
         << ".desktop</launchable>\n"
            "  <provides>\n"
            "    <binary>MorvikSerialDemo</binary>\n"
            "  </provides>\n"
            "  <content_rating type=\"oars-1.1\"/>\n"
            "  <releases>\n"
            "    <release version=\""
         << version
         << "\" date=\"2026-12-07\"/>\n"
            "  </releases>\n"
            "</component>\n";

    const bool ok =
        desktop.good() && meta.good() &&
        QImage(MainFrame16_xpm).save(QString::fromStdString(dir + "/" + kId + "-16.png")) &&
        QImage(MainFrame32_xpm).save(QString::fromStdString(dir + "/" + kId + "-32.png"));
    return ok ? 0 : 1;
}
