#pragma once

#include <QLabel>
#include <QMdiSubWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/beeper.h"
#include "core/busport.h"
#include "core/monitorsession.h"
#include "core/namesfile.h"
#include "core/reports.h"
#include "core/timesource.h"
#include "serial/portkeeper.h"
#include "platform/sessionrunner.h"
#include "platform/ticktimer.h"

namespace lw::gui {

class Form2;
class Form3;
class ShapeWidget;
class UserDialogs;

// What the board reaches outside itself; tests hand in fakes.
struct BoardServices {
    std::unique_ptr<SerialPortOps> port;
    std::unique_ptr<TimeSource> time;
    std::unique_ptr<Beeper> beeper;
    std::unique_ptr<LogSink> sink;
    UserDialogs* dialogs = nullptr;
    QString namesPath;                           // the unit names file
    std::function<QString()> portDevice;         // what the bus port opened, for messages
    std::function<std::string()> versionChoice;  // the software version choice
};

// "STATUS REMOTE": sixteen unit blocks and the master remote and noise lamps.
// Port + session + runner: it owns the bus port (behind a PortKeeper), the
// monitor session and the runner of its timers; it forwards clicks to the
// session and paints what its board holds after each tick.
class Form1 final : public QMdiSubWindow {
    Q_OBJECT
    // Declared first: Timer1 to Timer3 below are the runner's.
    Form2& m_raw;
    Form3& m_options;
    BoardServices m_services;
    std::unique_ptr<MonitorSession> m_session;
    SessionRunner m_runner;

public:
    Form1(Form2& raw, Form3& options, BoardServices services, QWidget* parent = nullptr);
    ~Form1() override;

    // The board's load: raw window shown minimised, every slot absent,
    // names read from the names file. Run once it sits in the work area.
    void load();
    // Opens the bus port with theport and baud and starts the decoder and
    // clock timers; on failure tells the user, hides the board, stops.
    void startremote();
    // "Comm Options": timers stopped, port closed, errors ignored.
    void stopMonitoring();
    // The board's unload: raw window minimised, port closed.
    void unload();
    // The layout rule: the board's size follows the bus speed.
    void applyLayout();

    // Whether "Remote" should open the port: the decoder is stopped, or the
    // device went away under it.
    bool needsStart() const { return !Timer1.isActive() || portLost(); }
    // The device went away; the keeper opens it again once it is back.
    bool portLost() const { return m_keeper->state() == PortKeeper::State::Lost; }

    // Ticks, as the timers run them.
    void decoderTick();
    void clockTick();

    void renameUnit(int slot);
    void hotSpotDoubleClick();

    MonitorSession& session() { return *m_session; }

    qint16 theport = 0;
    QString baud;

    QTimer& Timer1;     // decoder, 800 ms
    TickTimer& Timer2;  // show clocks, 100 ms; wakes only for the tick that sees a new second
    TickCount& Timer3;  // blink, 550 ms; caught up at each decoder tick
    std::array<ShapeWidget*, kSlots> Shape1{};
    std::array<ShapeWidget*, kSlots> Shape2{};
    std::array<QLabel*, kSlots> Label33{};
    std::array<QLabel*, kSlots> stat1{};
    std::array<QLabel*, kSlots> time1{};
    ShapeWidget* Shape3 = nullptr;
    ShapeWidget* Shape4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void build();
    void paint();
    void paintClocks();
    void showNames();
    void namesProblem(const std::string& error);
    void portStateChanged(PortKeeper::State state, const QString& reason);
    QString portName() const;
    void tellLogProblem(const std::string& path, const std::string& error);
    QString logProblemText() const;

    std::unique_ptr<MonitorSession> makeSession();
    void afterDecoderTick();

    std::unique_ptr<PortKeeper> m_keeper;
    HotSpot m_hotSpot;
    int m_portLosses = 0;
    // The log problem last told, and how far its count of left-out records
    // has been told.
    QString m_logPath;
    QString m_logError;
    bool m_quickSaveFailed = false;
    std::uint64_t m_droppedTold = 0;
    QWidget* m_client = nullptr;
    // What each clock label shows: the clock tick runs ten times a second
    // and a clock text changes once, so the labels are left alone between.
    std::array<std::string, kSlots> m_clockShown;
};

}  // namespace lw::gui
