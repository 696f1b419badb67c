// LINEWARDEN: the start procedure.
#include <QApplication>
#include <string>
#include <vector>

#include "core/commandline.h"
#include "core/version.h"
#include "gui/approot.h"
#include "gui/frmmain.h"
#include "serial/commport.h"

int main(int argc, char** argv) {
    const std::string usage = lw::cli::usageText(
        "linewarden", "",
        "Monitor for the KX-40 serial status bus. It takes no arguments: the bus port and\n"
        "software version are chosen in the program.\n",
        std::vector<lw::cli::OptionHelp>{});
    if (auto done = lw::cli::standardAnswer({argv + 1, argv + argc}, "linewarden", usage)) {
        return *done;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(lw::settingsApplication());
    QApplication::setApplicationVersion(
        QString::fromLatin1(lw::kProgramVersion.data(), lw::kProgramVersion.size()));
    lw::gui::AppRoot root;
    root.mainWindow().show();
    return app.exec();
}
