#pragma once

#include <memory>

#include "gui/userdialogs.h"

namespace lw::gui {

class frmMain;

// The program's composition root, built once in main: it picks the real
// parts (the serial ports, the local clock, the alert sound, the log files,
// the names file, the settings store, the message boxes) and hands them to
// the main window, which brings up the other windows over them.
class AppRoot {
public:
    AppRoot();
    ~AppRoot();
    AppRoot(const AppRoot&) = delete;
    AppRoot& operator=(const AppRoot&) = delete;

    frmMain& mainWindow() { return *m_main; }

private:
    QtUserDialogs m_dialogs;
    std::unique_ptr<frmMain> m_main;
};

}  // namespace lw::gui
