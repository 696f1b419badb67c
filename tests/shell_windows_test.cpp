// The main window, configuration dialog, detection and splash, offscreen.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QtTest>

#include "gui/form4.h"
#include "gui/form5.h"
#include "gui/frmmain.h"
#include "gui/frmsplash.h"
#include "gui/programicon.h"
#include "gui/twips.h"
#include "support/files.h"
#include "support/guifakes.h"
#include "support/probeports.h"

using lw::gui::frmMain;

namespace {

// A main window on fakes: the board's port, the detection's ports, a
// throw-away settings file and answered dialogs.
struct Shell {
    Shell() {
        ini = dir.filePath(QStringLiteral("settings.ini"));
        lw::gui::ShellServices s;
        s.board = [this] {
            auto b = fakes.make(std::make_unique<lwtest::FakeSerial>(port),
                                dir.filePath(QStringLiteral("remlabel.dat")), &dialogs);
            sink = fakes.sink;
            return b;
        };
        auto probe = std::make_unique<lwtest::ProbePorts>();
        probes = probe.get();
        s.detectionPort = std::move(probe);
        s.settings = [this] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
        s.dialogs = &dialogs;
        main = std::make_unique<frmMain>(std::move(s));
        main->resize(1200, 900);
        main->show();
        main->Timer2.setInterval(5);  // a quick dwell clock for the probes
    }
    lw::gui::frmSplash* splash() { return main->findChild<lw::gui::frmSplash*>(); }
    QSettings stored() { return QSettings(ini, QSettings::IniFormat); }

    QTemporaryDir dir;
    QString ini;
    std::shared_ptr<lwtest::FakeSerial::Shared> port =
        std::make_shared<lwtest::FakeSerial::Shared>();
    lwtest::ProbePorts* probes = nullptr;
    lwtest::FakeBoardServices fakes;
    lwtest::MemorySink* sink = nullptr;
    lwtest::RecordingDialogs dialogs;
    std::unique_ptr<frmMain> main;
};

// Keys go where the focus is, as a person's do.
void type(const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); }
void press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }

// The configuration dialog as a person first meets it: the splash clicked away.
lw::gui::Form4* openConfig(Shell& s) {
    s.main->activateWindow();
    if (!QTest::qWaitForWindowActive(s.main.get())) return nullptr;
    QTest::mouseClick(s.splash()->Frame1, Qt::LeftButton, {}, QPoint(3, 3));
    return s.main->config()->isVisible() ? s.main->config() : nullptr;
}

// What a style draws a focus frame by: the focus, put there as by the keyboard.
bool focusFrameShown(const QWidget* w) {
    QStyleOption o;
    o.initFrom(w);
    return o.state & QStyle::State_HasFocus && o.state & QStyle::State_KeyboardFocusChange;
}

}  // namespace

class ShellWindowsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusBarShowsTodaysDateAndTheTimeOfDay() {
        Shell s;
        auto* date = s.main->findChild<QLabel*>(QStringLiteral("sbDate"));
        auto* time = s.main->findChild<QLabel*>(QStringLiteral("sbTime"));
        QVERIFY(date && time);
        // Across a few settings polls, whichever minute they fell in.
        for (int poll = 0; poll < 3; ++poll) {
            QTest::qWait(550);
            const QDateTime before = QDateTime::currentDateTime();
            const QString shownDate = date->text();
            const QString shownTime = time->text();
            const QDateTime after = QDateTime::currentDateTime();
            QVERIFY2(shownDate == before.date().toString(QStringLiteral("M/d/yyyy")) ||
                         shownDate == after.date().toString(QStringLiteral("M/d/yyyy")),
                     qPrintable(shownDate));
            QVERIFY2(shownTime == before.time().toString(QStringLiteral("h:mm AP")) ||
                         shownTime == after.time().toString(QStringLiteral("h:mm AP")) ||
                         shownTime == before.addSecs(-1).time().toString(QStringLiteral("h:mm AP")),
                     qPrintable(shownTime));
        }
    }

    void startsWithTheViewEntriesUnavailableAndTheSplashUp() {
        Shell s;
        QCOMPARE(s.main->windowTitle(), QStringLiteral("LINEWARDEN"));
        QVERIFY(!s.main->mnuViewremmote->isEnabled());
        QVERIFY(!s.main->mnuViewdata->isEnabled());
        QVERIFY(!s.main->mnuViewOptions->isEnabled());
        QVERIFY(s.main->mnuViewcomm->isEnabled());
        QVERIFY(s.main->Timer1.isActive());
        QCOMPARE(s.main->Timer1.interval(), 500);
        QVERIFY(!s.main->Timer2.isActive());
        QVERIFY(s.main->options() && !s.main->options()->isVisible());
        QVERIFY(s.splash() && s.splash()->isVisible());
        QVERIFY(!s.main->config()->isVisible());
        QVERIFY(!s.main->boardLoaded());
    }

    void splashClosesOnItsTimerOrAFrameClick() {
        Shell s;
        QTRY_VERIFY_WITH_TIMEOUT(!s.splash() || !s.splash()->isVisible(), 5000);
        QVERIFY(s.main->config()->isVisible());

        Shell t;
        lw::gui::frmSplash* sp = t.splash();
        QTest::mouseClick(sp->Label1, Qt::LeftButton);  // a label does not close it
        QVERIFY(sp->isVisible());
        QTest::mouseClick(sp->Frame1, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(!sp->isVisible());
        QVERIFY(t.main->config()->isVisible());
    }

    void everySecondVersionDoubleClickShowsTheDate() {
        Shell s;
        lw::gui::frmSplash* sp = s.splash();
        bool timerStopped = false;
        s.dialogs.duringInformation = [&] { timerStopped = !sp->Timer1.isActive(); };
        QTest::mouseDClick(sp->Label3, Qt::LeftButton);
        QVERIFY(s.dialogs.infos.empty());
        QTest::mouseDClick(sp->Label3, Qt::LeftButton);
        QCOMPARE(s.dialogs.infos.size(), std::size_t(1));
        QCOMPARE(s.dialogs.infos[0].text,
                 QStringLiteral("This Program Was Last Updated On 3-1-2002"));
        QCOMPARE(s.dialogs.infos[0].title, QStringLiteral("VERSION 1.1.8"));
        QVERIFY(timerStopped);
        QVERIFY(sp->Timer1.isActive());
        sp->versionDoubleClick();
        QCOMPARE(s.dialogs.infos.size(), std::size_t(1));
        sp->versionDoubleClick();
        QCOMPARE(s.dialogs.infos.size(), std::size_t(2));
    }

    void okAppliesTheChoiceAtTheNextPoll() {
        Shell s;
        lw::gui::Form4* f = s.main->config();
        f->showDialog();
        QCOMPARE(f->Command1->text(), QStringLiteral("&AUTO CONFIGURE "));
        QCOMPARE(f->Combo1->count(), 10);
        QCOMPARE(f->Combo2->itemText(5), QStringLiteral("KX40JV-10"));
        QTest::mouseClick(f->Command2, Qt::LeftButton);
        QVERIFY(!f->isVisible());
        QVERIFY(f->baudfound);
        s.main->settingsPoll();
        QVERIFY(s.main->configdone);
        lw::gui::Form1& b = s.main->board();
        QCOMPARE(b.theport, qint16(1));
        QCOMPARE(b.baud, QStringLiteral("4800"));
        QVERIFY(b.isVisible());
        QVERIFY(s.port->open);
        QVERIFY(b.Timer1.isActive());
        QVERIFY(s.main->mnuViewremmote->isEnabled() && s.main->mnuViewOptions->isEnabled());
        QCOMPARE(s.probes->log.size(), std::size_t(0));  // no detection ran
        QVERIFY(!s.main->progress()->isVisible());
    }

    // The poll's own timer: asleep while configured, awake again from
    // "Comm Options", when its next tick applies the new answer.
    void thePollSleepsWhileConfiguredAndWakesForTheNextAnswer() {
        Shell s;
        lw::gui::Form4* f = s.main->config();
        f->showDialog();
        QTest::mouseClick(f->Command2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s.main->configdone, 3000);
        QVERIFY(s.main->Timer1.isActive());
        QCOMPARE(s.main->Timer1.interval(), 500);
        QVERIFY(s.main->Timer1.sleeping());
        QVERIFY(s.main->board().Timer1.isActive());

        s.main->commOptions();
        QVERIFY(!s.main->configdone);
        QVERIFY(!s.main->Timer1.sleeping());
        QVERIFY(f->isVisible());
        f->Combo2->setEditText(QStringLiteral("HUB8"));
        QTest::mouseClick(f->Command2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s.main->configdone, 3000);
        QCOMPARE(s.main->board().baud, QStringLiteral("1200"));
        QVERIFY(s.main->board().Timer1.isActive());
        QVERIFY(s.main->Timer1.sleeping());
    }

    void typedChoicesAndAPortBeyondSixteenBits() {
        Shell s;
        lw::gui::Form4* f = s.main->config();
        f->Combo1->setEditText(QStringLiteral(" 3"));
        f->Combo2->setEditText(QStringLiteral("HUB8"));
        f->Command2->click();
        s.main->settingsPoll();
        QCOMPARE(s.main->board().theport, qint16(3));
        QCOMPARE(s.main->board().baud, QStringLiteral("1200"));
        QCOMPARE(s.port->settings, std::string("1200,n,8,1"));

        s.main->commOptions();
        QVERIFY(!s.port->open);
        QVERIFY(!s.main->board().Timer1.isActive());
        QVERIFY(f->isVisible());
        f->Combo1->setEditText(QStringLiteral("70000"));
        f->Command2->click();
        s.main->settingsPoll();
        QCOMPARE(s.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(s.dialogs.messages[0].title, QStringLiteral("COMMPORT INVALID"));
        QVERIFY(!s.main->board().isVisible());
        QVERIFY(!s.port->open);
    }

    void typedVersionIsKeptExactlyAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<bool>("singleP");
        QTest::newRow("first entry in lower case") << "kx40qv-2"
                                                   << "1200" << false;
        QTest::newRow("single-P version in lower case") << "hub7"
                                                        << "1200" << false;
        QTest::newRow("start of an entry") << "HUB"
                                           << "1200" << false;
        QTest::newRow("single-P version") << "HUB7"
                                          << "1200" << true;
        QTest::newRow("4800 version") << "KX40QV-2"
                                      << "4800" << false;
    }
    void typedVersionIsKeptExactlyAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, baud);
        QFETCH(bool, singleP);
        Shell s;
        lw::gui::Form4* f = openConfig(s);
        QVERIFY(f);
        QCOMPARE(QApplication::focusWidget(), f->Command1);  // AUTO CONFIGURE comes first
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->Combo1);
        type(QStringLiteral("4"));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->Combo2);
        type(typed);
        press(Qt::Key_Tab);  // leaving the box keeps the text
        QCOMPARE(QApplication::focusWidget(), f->Command2);
        QCOMPARE(f->Combo2->currentText(), typed);
        QTest::mouseClick(f->Command2, Qt::LeftButton);
        s.main->settingsPoll();
        lw::gui::Form1& b = s.main->board();
        QCOMPARE(b.theport, qint16(4));
        QCOMPARE(b.baud, baud);
        QCOMPARE(s.port->settings, (baud + QStringLiteral(",n,8,1")).toStdString());
        // The decoder reads the same text: a lone "P" stops the show only
        // for the single-P versions spelt exactly.
        s.main->viewOptions();
        QTest::mouseClick(s.main->options()->Check3, Qt::LeftButton);
        s.port->pending.push_back("P");
        b.decoderTick();
        QCOMPARE(s.sink->all().find("PANIC STOP") != std::string::npos, singleP);
    }

    void enterAddsNothingToTheLists() {
        Shell s;
        lw::gui::Form4* f = openConfig(s);
        QVERIFY(f);
        press(Qt::Key_Tab);
        type(QStringLiteral("12"));
        press(Qt::Key_Return);
        press(Qt::Key_Tab);
        type(QStringLiteral("HUB9"));
        press(Qt::Key_Return);
        QCOMPARE(f->Combo1->count(), 10);
        QCOMPARE(f->Combo2->count(), 6);
        QCOMPARE(f->Combo1->currentText(), QStringLiteral("12"));
        QCOMPARE(f->Combo2->currentText(), QStringLiteral("HUB9"));
        QVERIFY(f->isVisible());  // no default button: Enter answers nothing
        QVERIFY(!f->baudfound);
        QTest::mouseClick(f->Command3, Qt::LeftButton);
        f->showDialog();  // shown again: the last answer stays
        QCOMPARE(f->Combo1->currentText(), QStringLiteral("12"));
        QCOMPARE(f->Combo2->currentText(), QStringLiteral("HUB9"));
    }

    // Neither dialog has a default button: Enter presses the focused button
    // and nothing else.
    void enterPressesTheFocusedButtonOnly_data() {
        QTest::addColumn<QString>("focus");  // window/control, "+" for keypad Enter
        for (const char* f :
             {"Form4/Command1", "Form4/Combo1", "Form4/Combo2+", "Form4/Command2+",
              "Form4/Command3", "Form3/Command1", "Form3/Command2+", "Form3/Check3"}) {
            QTest::newRow(f) << QString::fromLatin1(f);
        }
    }
    void enterPressesTheFocusedButtonOnly() {
        QFETCH(QString, focus);
        Shell s;
        s.main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.main.get()));
        if (focus.startsWith(QLatin1String("Form3")))
            s.main->viewOptions();  // the first window with keys
        else
            QTest::mouseClick(s.splash()->Frame1, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(focusFrameShown(QApplication::focusWidget()));  // before any key
        auto* dialog = s.main->findChild<QMdiSubWindow*>(focus.section('/', 0, 0));
        QList<QObject*> pressed;
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            connect(b, &QPushButton::clicked, b, [&pressed, b] { pressed << b; });
        }
        QWidget* target = dialog->findChild<QWidget*>(focus.section('/', 1).remove('+'));
        target->setFocus(Qt::TabFocusReason);
        const bool keypad = focus.endsWith('+');
        QTest::keyClick(target, keypad ? Qt::Key_Enter : Qt::Key_Return,
                        keypad ? Qt::KeypadModifier : Qt::NoModifier);
        const bool button = qobject_cast<QPushButton*>(target);
        QCOMPARE(pressed,
                 button ? QList<QObject*>{target} : QList<QObject*>());  // and nothing else
        s.main->commOptions();  // every showing starts on AUTO CONFIGURE, its frame drawn
        QCOMPARE(QApplication::focusWidget(), s.main->config()->Command1);
        QVERIFY(focusFrameShown(s.main->config()->Command1));
    }

    void aNamesProblemAtLoadDoesNotHoldUpMonitoring() {
        Shell s;
        // The names file cannot be read or written: it is a folder.
        QVERIFY(QDir(s.dir.path()).mkdir(QStringLiteral("remlabel.dat")));
        bool waitedBeforeOpening = false;
        s.dialogs.duringMessage = [&] {
            waitedBeforeOpening = waitedBeforeOpening || !s.port->open;
        };
        lw::gui::Form4* f = openConfig(s);
        QVERIFY(f);
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        press(Qt::Key_Space);  // OK
        s.main->settingsPoll();
        QVERIFY(!waitedBeforeOpening);
        QVERIFY(s.dialogs.messages.empty());
        QVERIFY(s.port->open);
        QVERIFY(s.main->board().Timer1.isActive());
        QCOMPARE(s.dialogs.notices.size(), std::size_t(1));
        QCOMPARE(s.dialogs.notices[0].title, QStringLiteral("KX-40 UNIT NAMES"));
        QVERIFY(s.dialogs.notices[0].text.contains(QStringLiteral("remlabel.dat")));
    }

    void saveAsDoesNotAskToReplaceTheLog() {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("kx40buss.txt"));
        QVERIFY(lwtest::writeFile(log, "records so far\r\n"));
        lw::gui::QtUserDialogs real;
        bool askedToReplace = false;
        QObject scope;  // no timer of this test outlives it
        // The dialog opens on the log in use; the person presses Enter.
        QTimer::singleShot(300, &scope, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTimer::singleShot(300, &scope, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    askedToReplace = true;
                    box->accept();
                }
            });
            QTest::keyClick(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")),
                            Qt::Key_Return);
        });
        QTimer::singleShot(5000, &scope, [] {
            if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close();
        });
        const QString chosen = real.askSaveFile(log, QStringLiteral("All Files (*.*)"));
        QVERIFY(!askedToReplace);
        QCOMPARE(chosen, log);
    }

    void everyWindowCarriesTheProgramIcon() {
        const QImage want = lw::gui::programIcon().pixmap(32, 32).toImage();
        if (want.isNull()) QSKIP("Qt's SVG icon plugin is missing (apt-get install libqt6svg6)");
        Shell s;
        s.main->config()->showDialog();
        s.main->board();
        s.main->viewOptions();
        QList<QWidget*> windows{s.main.get()};
        for (QMdiSubWindow* w : s.main->area()->subWindowList()) windows << w;
        QVERIFY(windows.size() >= 7);  // main, splash, configuration, progress, options, raw, board
        for (QWidget* w : windows) {
            QVERIFY2(w->windowIcon().pixmap(32, 32).toImage() == want, qPrintable(w->objectName()));
        }
        // And it is what a child window's title bar shows: the icon's red
        // square, not the toolkit's green logo.
        int looked = 0;
        for (QMdiSubWindow* w : s.main->area()->subWindowList()) {
            if (!w->isVisible() || w->isMinimized()) continue;
            ++looked;
            const int bar = w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w);
            const QImage title = w->grab(QRect(0, 0, 2 * bar, bar)).toImage();
            int red = 0;
            for (int y = 0; y < title.height(); ++y) {
                for (int x = 0; x < title.width(); ++x) {
                    const QColor c(title.pixel(x, y));
                    red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
                }
            }
            QVERIFY2(red > 10, qPrintable(w->objectName()));
        }
        QVERIFY(looked >= 3);  // splash, configuration, options
        lw::gui::QtUserDialogs real(s.main.get());
        real.notice(QStringLiteral("The bus port stopped."), QStringLiteral("COMMPORT LOST"));
        auto* box = s.main->findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY(box->windowIcon().pixmap(32, 32).toImage() == want);
        box->close();
    }

    void messageAndRenameBoxesLeaveRoomForTheirWholeTitle() {
        lw::gui::QtUserDialogs real;
        for (const char* title :
             {"COMMPORT INVALID", "DETECTION ERROR", "COMMPORT LOST", "CHANGE KX-40 LABEL"}) {
            int width = 0;
            int needed = 0;
            QObject scope;
            QTimer::singleShot(100, &scope, [&] {
                QWidget* box = QApplication::activeModalWidget();
                QVERIFY(box);
                QFont bold = box->font();
                bold.setBold(true);
                // The title in a bold caption font, beside an icon and three buttons.
                needed = QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 120;
                width = box->frameGeometry().width();
                box->close();
            });
            if (title[1] == 'H')
                real.askText(QStringLiteral("New"), QLatin1String(title), "5");
            else
                real.message(QStringLiteral("Invalid Port Number"), QString::fromLatin1(title));
            QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1: %2 of %3 px")
                                                     .arg(QLatin1String(title))
                                                     .arg(width)
                                                     .arg(needed)));
        }
    }

    void cancelAppliesNothing() {
        Shell s;
        s.main->config()->showDialog();
        s.main->config()->Command3->click();
        s.main->settingsPoll();
        QVERIFY(!s.main->configdone);
        QVERIFY(!s.main->boardLoaded());
        QVERIFY(!s.main->mnuViewremmote->isEnabled());
        // OK, Comm Options, then CANCEL: monitoring stays stopped.
        s.main->config()->Command2->click();
        s.main->settingsPoll();
        s.main->commOptions();
        s.main->config()->Command3->click();
        s.main->settingsPoll();
        QVERIFY(!s.port->open);
        QVERIFY(!s.main->board().Timer1.isActive());
    }

    void autoConfigureFindsTheMasterRemote() {
        Shell s;
        s.probes->opens = {{1, true}, {2, true}};
        s.probes->heard[{2, "4800"}] = "0iuT";
        lw::gui::Form4* f = s.main->config();
        f->showDialog();
        f->Command1->click();
        QVERIFY(f->useautoconfig);
        lw::gui::Form5* p = s.main->progress();
        QVERIFY(p->isVisible());
        QCOMPARE(p->windowTitle(), QStringLiteral("AUTO CONFIGURATION MASTER"));
        QCOMPARE(p->Label1->text(), QStringLiteral("DETECTING........."));
        QVERIFY(p->Timer1.isActive());
        s.main->settingsPoll();
        QCOMPARE(s.probes->log,
                 (std::vector<std::string>{"1@", "2@", "1@4800", "2@4800", "1@1200", "2@1200"}));
        QCOMPARE(s.main->board().theport, qint16(2));
        QCOMPARE(s.main->board().baud, QStringLiteral("4800"));
        QVERIFY(s.port->open);
        QVERIFY(!p->isVisible());
        QVERIFY(!p->Timer1.isActive());
        QVERIFY(!s.main->Timer2.isActive());
        QVERIFY(s.dialogs.messages.empty());
        QCOMPARE(s.main->portok()[2], 1);
    }

    void noMasterRemoteIsToldAndTheBoardFails() {
        Shell s;
        s.main->config()->Command1->click();
        s.main->settingsPoll();
        QCOMPARE(s.dialogs.messages.size(), std::size_t(2));
        QCOMPARE(s.dialogs.messages[0].text, QStringLiteral("No Master Remote Box Found"));
        QCOMPARE(s.dialogs.messages[0].title, QStringLiteral("DETECTION ERROR"));
        QCOMPARE(s.dialogs.messages[1].title, QStringLiteral("COMMPORT INVALID"));
        QVERIFY(s.main->mnuViewremmote->isEnabled());
        QVERIFY(!s.port->open);
    }

    void commOptionsDuringADetectionCallsItOff() {
        Shell s;
        s.probes->opens = {{1, true}, {2, true}, {3, true}};
        s.probes->heard[{3, "1200"}] = "T";
        s.main->config()->Command1->click();
        QTimer::singleShot(8, s.main.get(), [&] {
            QVERIFY(s.main->detecting());
            s.main->viewRemote();  // only shows the board: the detection is using a port
            QVERIFY(!s.port->open);
            s.main->commOptions();
            s.main->config()->Command1->click();  // a second detection waits its turn
            s.main->settingsPoll();
        });
        s.main->settingsPoll();
        QVERIFY(!s.main->detecting());
        QVERIFY(!s.port->open);
        QVERIFY(s.probes->log.size() < 6u);
        QVERIFY(!s.probes->open);
        // The waiting one runs at the next poll and finds port 3.
        QVERIFY(s.main->config()->useautoconfig);
        s.main->settingsPoll();
        QCOMPARE(s.main->board().theport, qint16(3));
        QCOMPARE(s.main->board().baud, QStringLiteral("1200"));
        QVERIFY(s.port->open);
    }

    void remoteAndDataFollowTheBoard() {
        Shell s;
        s.port->failOpen = true;
        s.main->config()->Command2->click();
        s.main->settingsPoll();
        lw::gui::Form1& b = s.main->board();
        QVERIFY(!b.isVisible());
        s.main->viewData();  // decoder stopped: nothing
        QVERIFY(s.main->rawWindow()->isMinimized());
        s.port->failOpen = false;
        s.main->viewRemote();  // the hidden board comes back and opens the port
        QVERIFY(b.isVisible());
        QVERIFY(s.port->open);
        s.main->viewRemote();  // running: no second opening
        QCOMPARE(s.dialogs.messages.size(), std::size_t(1));
        s.main->viewData();
        QVERIFY(!s.main->rawWindow()->isMinimized());
        QVERIFY(s.main->rawWindow()->isVisible());
    }

    void saveAsNeedsAnActiveChildAndSetsThePath() {
        Shell s;
        s.splash()->unload();
        s.main->config()->hide();
        QCoreApplication::processEvents();
        s.dialogs.answers << QStringLiteral("/tmp/elsewhere.txt");
        s.main->saveAs();
        QVERIFY(s.dialogs.prompts.isEmpty());
        s.main->viewOptions();
        s.main->saveAs();
        QCOMPARE(s.dialogs.prompts.value(0), QStringLiteral("save|") +
                                                 lw::gui::Form3::defaultLogpath() +
                                                 QStringLiteral("|All Files (*.*)"));
        QCOMPARE(s.main->options()->logpath(), QStringLiteral("/tmp/elsewhere.txt"));
        s.main->saveAs();  // cancelled: unchanged
        QCOMPARE(s.main->options()->logpath(), QStringLiteral("/tmp/elsewhere.txt"));
    }

    void closingStoresThePlacementUnlessMinimised() {
        {
            Shell s;
            s.main->close();
            QSettings st = s.stored();
            for (const char* k : {"MainLeft", "MainTop", "MainWidth", "MainHeight"}) {
                QVERIFY2(st.contains(QStringLiteral("Settings/") + QLatin1String(k)), k);
            }
            QCOMPARE(st.value(QStringLiteral("Settings/MainWidth")).toString(),
                     QString::number(
                         lw::gui::fromPixels(s.main->frameGeometry().width(), s.main.get())));
        }
        {
            Shell s;
            s.main->showMinimized();
            s.main->close();
            QVERIFY(!s.stored().contains(QStringLiteral("Settings/MainLeft")));
        }
        {
            Shell s;  // File > Exit ends at once: nothing is stored
            s.main->exitNow();
            QVERIFY(!s.stored().contains(QStringLiteral("Settings/MainLeft")));
        }
    }
};

QTEST_MAIN(ShellWindowsTest)
#include "shell_windows_test.moc"
