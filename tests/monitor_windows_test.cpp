// The status board, raw data and logging options windows, offscreen, on fakes.
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "gui/shapewidget.h"
#include "gui/twips.h"
#include "support/files.h"
#include "support/guifakes.h"

using lw::gui::twips;
using lwtest::Board;

namespace {

QLabel* label(Board& b, const QString& name) { return b.form->findChild<QLabel*>(name); }
lw::gui::ShapeWidget* shape(Board& b, const QString& name) {
    return b.form->findChild<lw::gui::ShapeWidget*>(name);
}
const std::string kRule = std::string(lw::kRule) + "\r\n";

// The message boxes a person would see now, with this title.
QList<QMessageBox*> boxesTitled(const QString& title) {
    QList<QMessageBox*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->windowTitle() == title) found << box;
    }
    return found;
}

}  // namespace

class MonitorWindowsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadShowsEmptyBlocksAndTheNamesFile() {
        Board b;
        QVERIFY(lwtest::writeFile(b.names, "\"fileok\",\"Alpha\",\"B\xe9ta\"\r\n"));
        b.boot();
        QCOMPARE(label(b, "Label33(1)")->text(), QStringLiteral("Alpha"));
        QCOMPARE(label(b, "Label33(2)")->text(), QStringLiteral("B\u00e9ta"));
        QCOMPARE(label(b, "Label33(16)")->text(), QStringLiteral("16"));
        for (int i = 1; i <= 16; ++i) {
            const QString n = QString::number(i);
            QCOMPARE(label(b, "stat1(" + n + ")")->text(), QStringLiteral(" "));
            QCOMPARE(label(b, "time1(" + n + ")")->text(), QStringLiteral(" "));
            QCOMPARE(shape(b, "Shape1(" + n + ")")->fill(), QColor(Qt::black));
            QCOMPARE(shape(b, "Shape2(" + n + ")")->fill(), QColor(Qt::black));
        }
        QCOMPARE(label(b, "Label1")->text(), QStringLiteral("MASTER REMOTE FOUND "));
        QCOMPARE(label(b, "Label2")->text(), QStringLiteral("NOISE"));
        QVERIFY(b.form->Timer3.isActive());
        QVERIFY(!b.form->Timer1.isActive());
        QVERIFY(!b.form->Timer2.isActive());
        QVERIFY(b.raw->isMinimized());
        QCOMPARE(b.form->windowTitle(), QStringLiteral("STATUS REMOTE"));
        // Block 6 sits in the second row, second column.
        QCOMPARE(shape(b, "Shape1(6)")->pos(), QPoint(twips(1785, b.form), twips(1785, b.form)));
    }

    void aFrameShowsItsTextAndColoursAfterOneTick() {
        Board b;
        b.boot();
        b.options->Check3->setChecked(true);
        b.start();
        QVERIFY(b.form->Timer1.isActive() && b.form->Timer2.isActive());
        QCOMPARE(b.port->settings, std::string("4800,n,8,1"));
        QCOMPARE(b.port->number, 2);
        b.tick("0iq5jUT");
        QCOMPARE(label(b, "stat1(1)")->text(), QStringLiteral("STARTING"));
        QCOMPARE(label(b, "time1(1)")->text(), QStringLiteral("0:00:00"));
        QCOMPARE(shape(b, "Shape1(1)")->fill(), QColor(0, 128, 0));
        QCOMPARE(shape(b, "Shape2(1)")->fill(), QColor(0, 255, 0));
        QCOMPARE(label(b, "stat1(6)")->text(), QStringLiteral("SHOW RUN"));
        QCOMPARE(shape(b, "Shape2(6)")->fill(), QColor(0, 0, 255));
        QCOMPARE(b.form->Shape3->fill(), QColor(255, 0, 0));
        QCOMPARE(b.raw->newdata(), std::string("0iq5jUT"));
        QCOMPARE(b.sink->entries.size(), std::size_t(1));
        QCOMPARE(b.sink->entries[0].path, b.options->logpath().toStdString());
        b.time->advance(1000);
        b.form->clockTick();
        QCOMPARE(label(b, "time1(1)")->text(), QStringLiteral("0:00:01"));
        b.tick("xsss");
        QCOMPARE(b.form->Shape4->fill(), QColor(255, 255, 0));
        QCOMPARE(label(b, "Label2")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    }

    void boardWideLampsAreCircles() {
        Board b;
        b.boot();
        b.start();
        b.tick("Tx");  // the master remote heard, and noise
        for (lw::gui::ShapeWidget* lamp : {b.form->Shape3, b.form->Shape4}) {
            const QImage img = lamp->grab().toImage();
            const QColor fill = lamp->fill();
            QVERIFY(fill != QColor(Qt::black));
            const int w = img.width();
            const int h = img.height();
            QVERIFY(w > h);  // the box is wider than high
            auto lit = [&](int x, int y) { return QColor(img.pixel(x, y)) == fill; };
            int across = 0;
            int down = 0;
            for (int x = 0; x < w; ++x) across += lit(x, h / 2);
            for (int y = 0; y < h; ++y) down += lit(w / 2, y);
            QVERIFY2(std::abs(across - down) <= 1,
                     qPrintable(QStringLiteral("%1 wide, %2 high").arg(across).arg(down)));
            QVERIFY(lit(w / 2, h / 2));
            QVERIFY(!lit(1, h / 2) && !lit(w - 2, h / 2));  // centred, the box's ends unlit
        }
    }

    // With the board's own timers: the blink ticks caught up at each decoder
    // tick turn a failed unit's colours over, and the clock tick that sleeps
    // to the next second still counts it. (The blink and beep rules are the
    // core's: UnitDisplay.FailedLampsFollowTheBlinkPhase and
    // FailureFromReadyBeepsWithoutReport.)
    void theTimersFlashAFailedUnitAndRunItsClock() {
        Board b;
        b.boot();
        b.start();
        QVERIFY(b.form->Timer3.isActive());
        b.tick("0ih1iHsss");  // unit 1 failed, unit 2 in the HELP ME of interlock
        const QColor red(255, 0, 0);
        const QColor green(0, 255, 0);
        QTRY_COMPARE_WITH_TIMEOUT(shape(b, "Shape1(1)")->fill(), red, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(shape(b, "Shape1(1)")->fill(), green, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(shape(b, "Shape1(1)")->fill(), red, 5000);

        Board c;
        c.boot();
        c.start();
        c.tick("0iq");
        QCOMPARE(label(c, "time1(1)")->text(), QStringLiteral("0:00:00"));
        // The first clock tick sees its first second and counts it.
        QTRY_COMPARE_WITH_TIMEOUT(label(c, "time1(1)")->text(), QStringLiteral("0:00:01"), 3000);
        c.time->advance(1000);
        QTRY_COMPARE_WITH_TIMEOUT(label(c, "time1(1)")->text(), QStringLiteral("0:00:02"), 3000);
        // However long the timer waits, a second that does not turn is not counted.
        QSignalSpy clockTicks(&c.form->Timer2, &lw::TickTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(clockTicks.count() >= 1, 3000);
        QCOMPARE(label(c, "time1(1)")->text(), QStringLiteral("0:00:02"));
        c.time->advance(250);
        clockTicks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(clockTicks.count() >= 1, 3000);
        QCOMPARE(label(c, "time1(1)")->text(), QStringLiteral("0:00:02"));
    }

    void startremoteFailureTellsHidesAndStops() {
        Board b;
        b.boot();
        b.port->failOpen = true;
        b.start(3);
        QCOMPARE(b.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(b.dialogs.messages[0].title, QStringLiteral("COMMPORT INVALID"));
        QCOMPARE(b.dialogs.messages[0].text,
                 QStringLiteral("The bus port COM 3 cannot be opened:\n"
                                "Permission error while locking the device"));
        QVERIFY(!b.form->isVisible());
        QVERIFY(!b.form->Timer1.isActive());
        QVERIFY(!b.form->Timer2.isActive());
        QVERIFY(!b.port->open);
        QCOMPARE(b.raw->windowTitle(), QStringLiteral("KX-40 DATA BUSS   COMM #3"));
        // No port chosen at all, and an empty speed: the same path.
        b.port->failOpen = false;
        b.start(0);
        QCOMPARE(b.dialogs.messages.back().text,
                 QStringLiteral("The bus port COM 0 cannot be opened:\nInvalid Port Number"));
        b.start(1, QString());
        QCOMPARE(b.dialogs.messages.size(), std::size_t(3));
        QVERIFY(!b.port->open);
    }

    void renamingWritesTheNamesFile() {
        Board b;
        b.boot();
        b.dialogs.answers << QStringLiteral("Screen \u00e9");
        QTest::mouseDClick(label(b, "Label33(5)"), Qt::LeftButton);
        QCOMPARE(b.dialogs.prompts.value(0), QStringLiteral("Enter New Name|CHANGE KX-40 LABEL|5"));
        QCOMPARE(label(b, "Label33(5)")->text(), QStringLiteral("Screen \u00e9"));
        QCOMPARE(lwtest::readFile(b.names),
                 std::string("\"fileok\",\"1\",\"2\",\"3\",\"4\",\"Screen \xe9\",\"6\",\"7\",\"8\","
                             "\"9\",\"10\",\"11\",\"12\",\"13\",\"14\",\"15\",\"16\"\r\n"));
        const std::string before = lwtest::readFile(b.names);
        b.form->renameUnit(5);  // cancelled: no answer
        b.dialogs.answers << QStringLiteral("say \"hi\"");
        b.form->renameUnit(5);
        QCOMPARE(lwtest::readFile(b.names), before);
        QCOMPARE(b.dialogs.messages.size(), std::size_t(1));
        QCOMPARE(label(b, "Label33(5)")->text(), QStringLiteral("Screen \u00e9"));
        // A long name ends elided in its label, whole in the tooltip and the next rename box.
        const QString name = QStringLiteral("AUDITORIUM 12 EXTENDED");
        b.dialogs.answers << name;
        b.form->renameUnit(5);
        b.form->renameUnit(5);  // cancelled
        QLabel* l = label(b, "Label33(5)");
        QVERIFY(l->text().startsWith(name.left(7)) &&
                l->fontMetrics().horizontalAdvance(l->text()) <= l->contentsRect().width());
        QCOMPARE(l->toolTip(), name);
        QVERIFY(b.dialogs.prompts.last().endsWith(name));
    }

    void theDefaultLogFolderIsMadeWhenMissing() {
        QTemporaryDir dir;
        const QString desktop = dir.filePath(QStringLiteral("Desktop/kx40buss.txt"));
        lw::gui::DefaultLogFolderSink sink(std::make_unique<lw::FileLogSink>(), desktop);
        QVERIFY(sink.append(desktop.toStdString(), "one\r\n").ok);
        QCOMPARE(lwtest::readFile(desktop), std::string("one\r\n"));
        // A path the user chose is used as chosen.
        QVERIFY(!sink.append(dir.filePath(QStringLiteral("Chosen/log.txt")).toStdString(), "").ok);
    }

    void hotSpotRenumbersEverySecondDoubleClick() {
        Board b;
        b.boot();
        QLabel* hot = label(b, "Label3");
        QVERIFY(hot->text().isEmpty());
        QTest::mouseDClick(hot, Qt::LeftButton);
        QCOMPARE(label(b, "Label33(1)")->text(), QStringLiteral("1"));
        QTest::mouseDClick(hot, Qt::LeftButton);
        QCOMPARE(label(b, "Label33(1)")->text(), QStringLiteral("17"));
        QCOMPARE(label(b, "Label33(16)")->text(), QStringLiteral("32"));
        b.form->hotSpotDoubleClick();
        b.form->hotSpotDoubleClick();
        QCOMPARE(label(b, "Label33(16)")->text(), QStringLiteral("16"));
    }

    void layoutFollowsTheBusSpeed() {
        Board b;
        b.boot();
        b.start(1, QStringLiteral("1200"));
        QCOMPARE(b.form->size(), QSize(twips(8385, b.form), twips(3885, b.form)));
        QCOMPARE(b.form->Shape4->y(), twips(2490, b.form));
        b.form->resize(300, 300);
        QCOMPARE(b.form->size(), QSize(twips(8385, b.form), twips(3885, b.form)));
        b.form->stopMonitoring();
        b.start(1, QStringLiteral("4800"));
        QCOMPARE(b.form->size(), QSize(twips(8385, b.form), twips(7245, b.form)));
        QCOMPARE(b.form->Shape4->y(), twips(5775, b.form));
        QCOMPARE(label(b, "Label2")->y(), twips(6300, b.form));
        // Stopped: the user may size it freely.
        b.form->stopMonitoring();
        b.form->resize(400, 300);
        QCOMPARE(b.form->size(), QSize(400, 300));
    }

    void logFailureIsToldOnceAndMonitoringGoesOn() {
        Board b;
        b.boot();
        b.options->Check3->setChecked(true);
        b.start();
        b.sink->failing = true;
        b.tick("0iq1iq2iqsss");
        b.tick("0iu1iu2iu");
        b.tick("0iz1iz2izsss");
        QCOMPARE(b.dialogs.notices.size(), std::size_t(1));
        QCOMPARE(b.dialogs.notices[0].title, QStringLiteral("LOG FILE ERROR"));
        QCOMPARE(label(b, "stat1(3)")->text(), QStringLiteral("READY"));
        QVERIFY(b.form->Timer1.isActive());
    }

    void aFlappingLogIsOneBoxThatCounts() {
        lw::gui::QtUserDialogs real;
        Board b({}, &real);
        real.setParentWidget(&b.area);
        b.boot();
        b.options->Check3->setChecked(true);
        b.start();
        // Big records fail while small ones still fit: streak after streak.
        for (int streak = 0; streak < 5; ++streak) {
            b.sink->failing = true;
            b.tick("PK");
            b.tick("PK");
            b.sink->failing = false;
            b.tick("PK");
        }
        const QList<QMessageBox*> boxes = boxesTitled(QStringLiteral("LOG FILE ERROR"));
        QCOMPARE(boxes.size(), 1);
        const std::uint64_t dropped = b.form->session().recordsDropped();
        QVERIFY(dropped >= 10);
        QVERIFY2(
            boxes[0]->text().contains(QStringLiteral("Records left out so far: %1.").arg(dropped)),
            qPrintable(boxes[0]->text()));
        QVERIFY(!boxes[0]->isModal());
        QVERIFY(b.form->Timer1.isActive());
        // Closed by the user, the next streak opens it again.
        boxes[0]->close();
        QTRY_VERIFY(boxesTitled(QStringLiteral("LOG FILE ERROR")).isEmpty());
        b.sink->failing = true;
        b.tick("PK");
        QCOMPARE(boxesTitled(QStringLiteral("LOG FILE ERROR")).size(), 1);
        for (QMessageBox* box : boxesTitled(QStringLiteral("LOG FILE ERROR"))) box->close();
    }

    void aFlappingPortIsOneBoxThatCounts() {
        lw::gui::QtUserDialogs real;
        Board b({}, &real);
        real.setParentWidget(&b.area);
        b.boot();
        b.start();
        for (int loss = 1; loss <= 3; ++loss) {
            b.port->open = false;
            b.port->lost("Resource temporarily unavailable");
            b.form->startremote();  // "Remote", with the device back
            QVERIFY(b.port->open);
        }
        const QList<QMessageBox*> boxes = boxesTitled(QStringLiteral("COMMPORT LOST"));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0]->text().contains(QStringLiteral("3 time")), qPrintable(boxes[0]->text()));
        QVERIFY(boxes[0]->text().contains(QStringLiteral("open again")));
        for (QMessageBox* box : boxes) box->close();
    }

    void lostPortIsToldAndCanBeReopened() {
        Board b;
        b.boot();
        b.start();
        QVERIFY(!b.form->needsStart());
        b.port->open = false;
        b.port->lost("Unknown error");
        QCOMPARE(b.dialogs.notices.size(), std::size_t(1));
        QCOMPARE(b.dialogs.notices[0].title, QStringLiteral("COMMPORT LOST"));
        // The device by name and a reason a person can act on.
        const QString told = b.dialogs.notices[0].text;
        QVERIFY2(told.contains(QStringLiteral("COM 2")), qPrintable(told));
        QVERIFY2(!told.contains(QStringLiteral("Unknown error")), qPrintable(told));
        // While it lasts the board says so: a black board is not "all off".
        QCOMPARE(b.form->windowTitle(), QStringLiteral("STATUS REMOTE - COMMPORT LOST"));
        QVERIFY(b.form->needsStart());
        b.tick("0iq");  // ticks go on with no input
        QCOMPARE(label(b, "stat1(1)")->text(), QStringLiteral(" "));
        QCOMPARE(b.form->windowTitle(), QStringLiteral("STATUS REMOTE - COMMPORT LOST"));
        // "Remote" while the device is still away: no failure box, the board
        // stays up and goes on waiting.
        b.port->failOpen = true;
        b.form->startremote();
        QVERIFY(b.dialogs.messages.empty());
        QVERIFY(b.form->isVisible() && b.form->Timer1.isActive());
        QVERIFY(b.form->portLost());
        b.port->failOpen = false;
        b.form->startremote();
        QVERIFY(b.port->open);
        QVERIFY(!b.form->needsStart());
        QCOMPARE(b.form->windowTitle(), QStringLiteral("STATUS REMOTE"));
    }

    // The pacing is the core's (RawPacing.*: intervals, chunks, the drop over
    // 150); the window shows what it lets through, control bytes included.
    void rawWindowShowsWhatThePacingLetsThrough() {
        Board b;
        b.boot();
        lw::gui::Form2& raw = *b.raw;
        raw.appendNewdata("abc");
        raw.drainTick();
        QCOMPARE(raw.shownText(), QStringLiteral("ab"));
        raw.drainTick();
        QCOMPARE(raw.shownText(), QStringLiteral("abc"));
        raw.appendNewdata(std::string(200, 'z'));
        raw.drainTick();  // over 150 waiting: dropped
        QCOMPARE(raw.shownText(), QStringLiteral("abc"));
        // Control bytes neither break the text box nor get lost.
        raw.appendNewdata(std::string("\r\n\x00\x9b\xff", 5));
        for (int i = 0; i < 3; ++i) raw.drainTick();
        QCOMPARE(raw.shownText().size(), 8);
        QVERIFY(!raw.shownText().contains(QLatin1Char('\n')));
    }

    void rawDrainTimerSleepsWhileTheBacklogIsEmpty() {
        Board b;
        b.boot();
        lw::gui::Form2& raw = *b.raw;
        // Running from the window's creation; a tick that finds nothing stops it.
        QVERIFY(raw.Timer1.isActive());
        raw.drainTick();
        QVERIFY(!raw.Timer1.isActive());
        QCOMPARE(raw.drainInterval(), 80);
        // The monitor's bytes wake it with the interval it had.
        b.start();
        b.tick("abc");
        QVERIFY(raw.Timer1.isActive());
        QCOMPARE(raw.Timer1.interval(), 80);
        raw.drainTick();
        QVERIFY(raw.Timer1.isActive());
        QCOMPARE(raw.drainInterval(), 250);
        raw.drainTick();
        QCOMPARE(raw.shownText(), QStringLiteral("abc"));
        QVERIFY(!raw.Timer1.isActive());
        b.tick("0");
        QVERIFY(raw.Timer1.isActive());
        QCOMPARE(raw.Timer1.interval(), 750);
        // Left to itself the timer shows the byte, then sleeps again.
        QTRY_COMPARE_WITH_TIMEOUT(raw.shownText(), QStringLiteral("abc0"), 3000);
        QTRY_VERIFY(!raw.Timer1.isActive());
        QCOMPARE(raw.drainInterval(), 750);
        // A dropped backlog leaves nothing to show either.
        b.tick(std::string(200, 'z'));
        raw.drainTick();
        QVERIFY(!raw.Timer1.isActive());
        QCOMPARE(raw.shownText(), QStringLiteral("abc0"));
        QCOMPARE(raw.drainInterval(), 750);
    }

    void rawTextKeepsItsLast921Characters() {
        Board b;
        b.boot();
        std::string sent;
        for (int i = 0; i < 310; ++i) sent += static_cast<char>('A' + i % 26);
        for (int r = 0; r < 4; ++r) {
            b.raw->appendNewdata(sent.substr(0, 100));
            while (!b.raw->newdata().empty()) b.raw->drainTick();
        }
        QCOMPARE(b.raw->shownText().size(), 400);
        for (int r = 0; r < 6; ++r) {
            b.raw->appendNewdata(sent.substr(0, 100));
            while (!b.raw->newdata().empty()) b.raw->drainTick();
        }
        QCOMPARE(b.raw->shownText().size(), 921);
        QCOMPARE(b.raw->shownText().right(3), QStringLiteral("TUV"));
    }

    void quickSaveAppendsTheTextWhateverTheOptions() {
        Board b;
        b.boot();
        b.raw->appendNewdata(std::string("0\x01\xff", 3));
        b.raw->drainTick();
        b.raw->drainTick();
        b.raw->showNormal();
        QTest::mouseDClick(b.raw->Text1->viewport(), Qt::LeftButton);
        QCOMPARE(b.sink->entries.size(), std::size_t(1));
        QCOMPARE(b.sink->entries[0].record,
                 std::string("COMM WINDOW QUICK SAVE 10:15:07 PM  3/1/2002\r\n0\x01\xff\r\n", 51) +
                     kRule);
        QVERIFY(b.raw->shownText().isEmpty());
        b.raw->quickSave();
        QCOMPARE(b.sink->entries[1].record,
                 "COMM WINDOW QUICK SAVE 10:15:07 PM  3/1/2002\r\n\r\n" + kRule);
    }

    void failedQuickSaveKeepsTheTextAndTellsEveryTime() {
        Board b;
        b.boot();
        b.raw->appendNewdata("0iq");
        while (!b.raw->newdata().empty()) b.raw->drainTick();
        b.raw->showNormal();
        b.sink->failing = true;
        auto quickSaveNotices = [&] {
            int n = 0;
            for (const auto& s : b.dialogs.notices) {
                if (s.title == QStringLiteral("LOG FILE ERROR") &&
                    s.text.contains(QStringLiteral("quick save")))
                    ++n;
            }
            return n;
        };
        for (int attempt = 1; attempt <= 3; ++attempt) {
            QTest::mouseDClick(b.raw->Text1->viewport(), Qt::LeftButton);
            QCOMPARE(b.raw->shownText(), QStringLiteral("0iq"));
            QCOMPARE(quickSaveNotices(), attempt);
        }
        QVERIFY(b.dialogs.notices.back().text.contains(QStringLiteral("disk on fire")));
        QVERIFY(b.dialogs.notices.back().text.contains(b.options->logpath()));
        // Once the file can be written the same text goes in, and only then leaves.
        b.sink->failing = false;
        QTest::mouseDClick(b.raw->Text1->viewport(), Qt::LeftButton);
        QCOMPARE(b.sink->entries.size(), std::size_t(1));
        QCOMPARE(b.sink->entries[0].record,
                 "COMM WINDOW QUICK SAVE 10:15:07 PM  3/1/2002\r\n0iq\r\n" + kRule);
        QVERIFY(b.raw->shownText().isEmpty());
        QCOMPARE(b.raw->Text1->toPlainText(), QString());
    }

    void typingKeepsEveryReceivedByte() {
        Board b;
        b.boot();
        b.raw->showNormal();
        QTest::mouseClick(b.raw->Text1->viewport(), Qt::LeftButton);
        auto savedText = [&] {
            const std::string& rec = b.sink->entries.back().record;
            const std::size_t from = rec.find("\r\n") + 2;
            return rec.substr(from, rec.find("\r\n", from) - from);
        };
        // A no-break space from the bus stays one after the user types.
        b.raw->appendNewdata("\xa0\xa0");
        b.raw->drainTick();
        QTest::qWait(100);  // the box shows it
        QTest::keyClicks(b.raw->Text1, QStringLiteral("z"));
        QTest::mouseDClick(b.raw->Text1->viewport(), Qt::LeftButton);
        QCOMPARE(savedText(), std::string("\xa0\xa0z"));

        const std::string received(
            "ab\xa0"
            "c\xa0"
            "d",
            6);
        b.raw->appendNewdata(received);
        b.raw->drainTick();  // in the text, not yet repainted
        QTest::keyClicks(b.raw->Text1, QStringLiteral("x"));
        b.raw->drainTick();
        QTest::keyClicks(b.raw->Text1, QStringLiteral("y"));
        b.raw->drainTick();
        QTest::qWait(100);  // the box catches up
        QCOMPARE(b.raw->shownText().size(), 8);
        QTest::mouseDClick(b.raw->Text1->viewport(), Qt::LeftButton);
        QCOMPARE(b.sink->entries.size(), std::size_t(2));
        const std::string saved = savedText();
        QCOMPARE(saved.size(), std::size_t(8));
        // What was typed sits among what came, and what came is whole, in order.
        std::string came;
        for (const char c : saved)
            if (c != 'x' && c != 'y') came += c;
        QCOMPARE(came, received);
        QCOMPARE(saved.size() - came.size(), std::size_t(2));
    }

    void rawWindowHoldsItsSizeAndNamesThePort() {
        Board b;
        b.boot();
        b.form->theport = 12;
        b.raw->showNormal();
        b.raw->resize(200, 100);
        QCOMPARE(b.raw->size(), QSize(twips(7395, b.raw), twips(4830, b.raw)));
        QCOMPARE(b.raw->y(), 0);
        QCOMPARE(b.raw->windowTitle(), QStringLiteral("KX-40 DATA BUSS   COMM #12"));
        b.raw->formkill();
        QVERIFY(b.raw->isMinimized());
    }

    void optionsCancelPutsBackTheLastOpening() {
        Board b;
        b.boot();
        lw::gui::Form3& o = *b.options;
        QCOMPARE(o.logOptions().unitactivity, 0);
        o.openDialog();
        QVERIFY(o.isVisible());
        QTest::mouseClick(o.Check3, Qt::LeftButton);
        QCOMPARE(o.logOptions().unitactivity, 1);
        QTest::mouseClick(o.Command1, Qt::LeftButton);  // OK
        QVERIFY(!o.isVisible());
        QCOMPARE(o.logOptions().unitactivity, 1);
        o.openDialog();
        QTest::mouseClick(o.Check1, Qt::LeftButton);
        o.openDialog();  // chosen again while open: a new snapshot
        QTest::mouseClick(o.Check2, Qt::LeftButton);
        const QString path = o.logpath();
        o.setLogpath(path + QStringLiteral(".new"));
        QTest::mouseClick(o.Command2, Qt::LeftButton);  // Cancel
        QCOMPARE(o.logOptions().rawdata, 1);
        QCOMPARE(o.logOptions().busnoise, 0);
        QCOMPARE(o.logOptions().unitactivity, 1);
        QCOMPARE(o.logpath(), path + QStringLiteral(".new"));
        QVERIFY(!o.isVisible());
        o.showNormal();
        o.resize(50, 50);
        QCOMPARE(o.size(), QSize(twips(4245, &o), twips(4125, &o)));
    }

    void recordsFollowAClickedOptionAtOnce() {
        Board b;
        b.boot();
        b.start();
        b.options->openDialog();
        QTest::mouseClick(b.options->Check3, Qt::LeftButton);
        b.tick("0iqsss");
        QCOMPARE(b.sink->entries.size(), std::size_t(1));
        QTest::mouseClick(b.options->Command2, Qt::LeftButton);
        QCOMPARE(b.options->logOptions().unitactivity, 0);
        b.tick("1iqsss");
        QCOMPARE(b.sink->entries.size(), std::size_t(1));  // the record written stays
    }
};

QTEST_MAIN(MonitorWindowsTest)
#include "monitor_windows_test.moc"
