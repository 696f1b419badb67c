#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "core/masterdetection.h"
#include "gui/form1.h"
#include "platform/localtime.h"
#include "platform/ticktimer.h"

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QSettings;

namespace lw::gui {

class Form2;
class Form3;
class Form4;
class Form5;
class UserDialogs;

// What the main window reaches outside itself; tests hand in fakes.
struct ShellServices {
    std::function<BoardServices()> board;                  // made on the board's first use
    std::unique_ptr<SerialPortOps> detectionPort;          // MSComm1
    std::function<std::unique_ptr<QSettings>()> settings;  // the per-user store
    UserDialogs* dialogs = nullptr;
};

// "LINEWARDEN": the frame of the program. Its load brings up the other
// windows in order; its settings poll applies the bus settings or runs the
// detection of the master remote box; its View menu drives the monitor.
class frmMain final : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(ShellServices services, QWidget* parent = nullptr);
    ~frmMain() override;

    void enableall();
    void settingsPoll();  // Timer1
    void dwellTick();     // Timer2

    // The menu commands.
    void saveAs();
    void commOptions();
    void viewData();
    void viewRemote();
    void viewOptions();
    void exitNow();

    // The status board, loaded on its first use.
    Form1& board();
    bool boardLoaded() const { return m_board != nullptr; }
    bool detecting() const { return m_detecting; }

    QMdiArea* area() const { return m_area; }
    Form2* rawWindow() const { return m_raw; }
    Form3* options() const { return m_options; }
    Form4* config() const { return m_config; }
    Form5* progress() const { return m_progress; }

    bool configdone = false;
    std::array<int, kScannedPorts + 1>& portok() { return m_detection.portok; }
    int waitticks = 0;

    TickTimer Timer1;  // sleeps while configured: its polls would end at once
    QTimer Timer2;
    QAction* mnuFileSaveAs = nullptr;
    QAction* mnuFileExit = nullptr;
    QAction* mnuViewremmote = nullptr;
    QAction* mnuViewdata = nullptr;
    QAction* mnuViewOptions = nullptr;
    QAction* mnuViewcomm = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMenus();
    void buildStatusBar();
    void pollSettings();
    void updateClockPanels();
    void detect();
    bool dwell();

    ShellServices m_services;
    QMdiArea* m_area = nullptr;
    Form2* m_raw = nullptr;
    Form3* m_options = nullptr;
    Form4* m_config = nullptr;
    Form5* m_progress = nullptr;
    Form1* m_board = nullptr;
    MasterDetection m_detection;
    bool m_detecting = false;
    bool m_cancelDetection = false;
    QLabel* m_datePanel = nullptr;
    QLabel* m_timePanel = nullptr;
    // The panels show minutes: one wake-up a minute brings them up to date.
    LocalTime m_panelTime;
    QTimer m_panelTimer;
    CivilTime m_panelsShown{0, 0, 0};  // the minute the panels show
};

}  // namespace lw::gui
