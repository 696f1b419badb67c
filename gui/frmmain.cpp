#include "gui/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QEventLoop>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTime>

#include "core/busprotocol.h"
#include "core/bussettings.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/form4.h"
#include "gui/form5.h"
#include "gui/frmsplash.h"
#include "gui/programicon.h"
#include "gui/twips.h"
#include "gui/userdialogs.h"

namespace lw::gui {

namespace {
constexpr int kPollMs = 500;
// How long after the minute turns the status bar panels look at the clock.
constexpr int kPanelLag = 5;
}  // namespace

frmMain::frmMain(ShellServices services, QWidget* parent)
    : QMainWindow(parent), m_services(std::move(services)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("LINEWARDEN"));
    // Every window takes the program's icon, child windows made from here on
    // included (they pick their title bar icon when they are made).
    QApplication::setWindowIcon(programIcon());
    m_area = new QMdiArea(this);
    m_area->setObjectName(QStringLiteral("MDIClient"));
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_area);
    buildMenus();
    buildStatusBar();
    resize(twips(6945, this),
           twips(5325, this) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());

    m_progress = new Form5;
    m_area->addSubWindow(m_progress);
    m_progress->hide();
    m_config = new Form4(*m_progress);
    m_area->addSubWindow(m_config);
    m_config->hide();

    // The load sequence.
    mnuViewdata->setEnabled(false);
    mnuViewremmote->setEnabled(false);
    mnuViewOptions->setEnabled(false);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer1.setInterval(std::chrono::milliseconds(kPollMs));
    Timer2.setInterval(kDwellTick);
    connect(&Timer1, &TickTimer::timeout, this, &frmMain::settingsPoll);
    connect(&Timer2, &QTimer::timeout, this, &frmMain::dwellTick);
    Timer1.start();
    Timer2.stop();
    m_options = new Form3;
    m_area->addSubWindow(m_options);
    m_options->hide();
    auto* splash = new frmSplash(*m_services.dialogs, [this] { m_config->showDialog(); });
    m_area->addSubWindow(splash);
    splash->show();
    m_area->setActiveSubWindow(splash);
}

frmMain::~frmMain() = default;

void frmMain::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    mnuFileSaveAs = file->addAction(QStringLiteral("Save &As..."), this, &frmMain::saveAs);
    mnuFileSaveAs->setObjectName(QStringLiteral("mnuFileSaveAs"));
    mnuFileExit = file->addAction(QStringLiteral("E&xit"), this, &frmMain::exitNow);
    mnuFileExit->setObjectName(QStringLiteral("mnuFileExit"));
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    mnuViewremmote = view->addAction(QStringLiteral("&Remote"), this, &frmMain::viewRemote);
    mnuViewremmote->setObjectName(QStringLiteral("mnuViewremmote"));
    mnuViewdata = view->addAction(QStringLiteral("&Data"), this, &frmMain::viewData);
    mnuViewdata->setObjectName(QStringLiteral("mnuViewdata"));
    mnuViewOptions =
        view->addAction(QStringLiteral("Log &Options..."), this, &frmMain::viewOptions);
    mnuViewOptions->setObjectName(QStringLiteral("mnuViewOptions"));
    mnuViewcomm = view->addAction(QStringLiteral("&Comm Options"), this, &frmMain::commOptions);
    mnuViewcomm->setObjectName(QStringLiteral("mnuViewcomm"));
}

void frmMain::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("sbStatusBar"));
    bar->addWidget(new QLabel(QStringLiteral("Status"), bar), 1);
    m_datePanel = new QLabel(bar);
    m_timePanel = new QLabel(bar);
    for (QLabel* l : {m_datePanel, m_timePanel}) {
        l->setMinimumWidth(twips(1440, this));
        l->setAlignment(Qt::AlignCenter);
        bar->addPermanentWidget(l);
    }
    m_datePanel->setObjectName(QStringLiteral("sbDate"));
    m_timePanel->setObjectName(QStringLiteral("sbTime"));
    m_panelTimer.setSingleShot(true);
    m_panelTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_panelTimer, &QTimer::timeout, this, &frmMain::updateClockPanels);
    updateClockPanels();
}

void frmMain::updateClockPanels() {
    CivilTime now = m_panelTime.now();
    // Woken just after the next minute turns; a wall clock set meanwhile
    // shows at the wake-up after.
    m_panelTimer.start((60 - now.second) * 1000 - now.millisecond + kPanelLag);
    now.second = now.millisecond = 0;
    if (now == m_panelsShown) return;
    m_panelsShown = now;
    m_datePanel->setText(QDate(now.year, now.month, now.day).toString(QStringLiteral("M/d/yyyy")));
    m_timePanel->setText(QTime(now.hour, now.minute).toString(QStringLiteral("h:mm AP")));
}

void frmMain::enableall() {
    mnuViewdata->setEnabled(true);
    mnuViewremmote->setEnabled(true);
    mnuViewOptions->setEnabled(true);
}

Form1& frmMain::board() {
    if (!m_board) {
        m_raw = new Form2;
        m_area->addSubWindow(m_raw);
        BoardServices services = m_services.board();
        services.versionChoice = [this] { return m_config->versionChoice(); };
        m_board = new Form1(*m_raw, *m_options, std::move(services));
        m_area->addSubWindow(m_board);
        m_board->load();
    }
    return *m_board;
}

void frmMain::settingsPoll() {
    pollSettings();
    // Once configured every poll would end at once, so none wakes the
    // program until "Comm Options" clears the flag; the grid keeps its phase.
    if (configdone) Timer1.sleep();
}

void frmMain::pollSettings() {
    // A detection still unwinding finishes before a new answer is applied.
    if (configdone || m_detecting) return;
    if (m_config->baudfound) {
        configdone = true;
        Form1& b = board();
        b.baud = QString::fromStdString(baudForVersion(m_config->versionChoice()));
        // A number beyond 16 bits selects no port: the opening then fails.
        b.theport = portNumberFromText(m_config->portChoice().toStdString()).value_or(0);
        enableall();
        b.show();
        b.startremote();
    }
    if (!configdone && m_config->useautoconfig) {
        configdone = true;
        detect();
        enableall();
    }
}

void frmMain::dwellTick() { ++waitticks; }

bool frmMain::dwell() {
    waitticks = 0;
    if (!m_cancelDetection) {
        // Listen while the event loop runs on: 3 ticks of the dwell clock.
        QEventLoop loop;
        const auto c = connect(&Timer2, &QTimer::timeout, &loop, [&] {
            if (waitticks >= kDwellTicks || m_cancelDetection) loop.quit();
        });
        const auto stop = connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
        disconnect(c);
        disconnect(stop);
    }
    return !m_cancelDetection;
}

void frmMain::detect() {
    m_detecting = true;
    m_cancelDetection = false;
    SerialPortOps& port = *m_services.detectionPort;
    m_detection.scanports(port);
    Timer2.start();
    const MasterDetection::Outcome found = m_detection.probemaster(
        port, [this] { return dwell(); }, [this] { enableall(); });
    if (found.cancelled) {
        Timer2.stop();
        m_progress->end();
        m_detecting = false;
        return;
    }
    Form1& b = board();
    b.baud = QString::fromStdString(found.baud);
    b.theport = static_cast<qint16>(found.port);
    Timer2.stop();
    m_progress->end();
    m_detecting = false;
    if (b.theport == 0 && m_services.dialogs) {
        m_services.dialogs->message(QStringLiteral("No Master Remote Box Found"),
                                    QStringLiteral("DETECTION ERROR"));
    }
    b.show();
    b.startremote();
}

void frmMain::saveAs() {
    QMdiSubWindow* active = m_area->currentSubWindow();
    if (!active || !active->isVisible() || !m_services.dialogs) return;
    const QString name =
        m_services.dialogs->askSaveFile(m_options->logpath(), QStringLiteral("All Files (*.*)"));
    if (!name.isEmpty()) m_options->setLogpath(name);
}

void frmMain::commOptions() {
    m_config->baudfound = false;
    configdone = false;
    Timer1.wake();
    m_config->useautoconfig = false;
    if (m_detecting) m_cancelDetection = true;  // a detection under way is called off
    if (m_board) m_board->stopMonitoring();
    m_config->showDialog();
}

void frmMain::viewData() {
    if (!m_board || !m_board->Timer1.isActive()) return;
    m_raw->showNormal();
    m_raw->show();
    m_area->setActiveSubWindow(m_raw);
}

void frmMain::viewRemote() {
    Form1& b = board();
    // A board hidden after a failed opening comes back and tries again.
    b.showNormal();
    m_area->setActiveSubWindow(&b);
    if (m_detecting) return;  // the detection starts the board when it is done
    if (b.needsStart()) b.startremote();
}

void frmMain::viewOptions() { m_options->openDialog(); }

void frmMain::exitNow() {
    m_cancelDetection = true;
    QApplication::exit(0);
}

void frmMain::closeEvent(QCloseEvent* e) {
    m_cancelDetection = true;
    if (!isMinimized() && m_services.settings) {
        const auto store = m_services.settings();
        const QRect g = frameGeometry();
        store->beginGroup(QStringLiteral("Settings"));
        store->setValue(QStringLiteral("MainLeft"), QString::number(fromPixels(g.left(), this)));
        store->setValue(QStringLiteral("MainTop"), QString::number(fromPixels(g.top(), this)));
        store->setValue(QStringLiteral("MainWidth"), QString::number(fromPixels(g.width(), this)));
        store->setValue(QStringLiteral("MainHeight"),
                        QString::number(fromPixels(g.height(), this)));
        store->endGroup();
        store->sync();
    }
    if (m_board) m_board->unload();
    e->accept();
    QApplication::quit();
}

}  // namespace lw::gui
