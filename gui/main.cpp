// LINEWARDEN: the start procedure.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/version.h"
#include "gui/approot.h"
#include "gui/frmmain.h"
#include "serial/commport.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("linewarden %s\n", std::string(lw::kProgramVersion).c_str());
            return 0;
        }
        if (!std::strcmp(argv[i], "--help")) {
            std::puts(
                "usage: linewarden\n\nMonitor for the KX-40 serial status bus. It takes no "
                "arguments: the bus port and software version are chosen in the program.");
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(lw::settingsApplication());
    QApplication::setApplicationVersion(
        QString::fromLatin1(lw::kProgramVersion.data(), lw::kProgramVersion.size()));
    lw::gui::AppRoot root;
    root.mainWindow().show();
    return app.exec();
}
