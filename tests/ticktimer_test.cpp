// The tick timer: ticks passed over are never run, the ones that run stay
// on the grid of the start and never come early, a sleeping timer runs
// nothing; and the tick count that is only looked at.
#include "platform/ticktimer.h"

#include "platform/sessionrunner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QtTest>
#include <vector>

using namespace std::chrono;
using lw::TickTimer;

namespace {

constexpr int kMs = 40;  // the grid

// When each tick ran, in ms from the start.
struct Ticks {
    explicit Ticks(TickTimer& t) {
        QObject::connect(&t, &TickTimer::timeout, [this] { at.push_back(since.elapsed()); });
    }
    void start(TickTimer& t) {
        since.start();
        t.start(milliseconds{kMs});
    }
    QElapsedTimer since;
    std::vector<qint64> at;
};

}  // namespace

class TickTimerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void anOrdinaryTimerUntilTold() {
        TickTimer t;
        t.setInterval(milliseconds{kMs});
        QCOMPARE(t.interval(), kMs);
        QVERIFY(!t.isActive());
        Ticks ticks(t);
        ticks.start(t);
        QVERIFY(t.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(ticks.at.size() >= 4, 5000);
        for (std::size_t i = 0; i < ticks.at.size(); ++i) {
            QVERIFY2(ticks.at[i] >= qint64(i + 1) * kMs, "a tick ran before it was due");
        }
        t.stop();
        QVERIFY(!t.isActive());
        const std::size_t ran = ticks.at.size();
        QTest::qWait(3 * kMs);
        QCOMPARE(ticks.at.size(), ran);
    }

    // Each tick names the next it needs: 3, then 1, then 5 grid ticks on.
    void skippedTicksAreNotRunAndTheRestStayOnTheGrid() {
        TickTimer t;
        std::vector<qint64> at;
        std::vector<int> steps{3, 1, 5, 2};
        QElapsedTimer since;
        std::size_t n = 0;
        connect(&t, &TickTimer::timeout, this, [&] {
            at.push_back(since.elapsed());
            if (n < steps.size()) t.skipTo(steps[n++]);
        });
        since.start();
        t.start(milliseconds{kMs});
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 5, 10000);
        t.stop();
        // Grid ticks 1, 4, 5, 10, 12, never earlier: a passed-over tick
        // that ran would bring every later one forward.
        const std::vector<int> grid{1, 4, 5, 10, 12};
        for (std::size_t i = 0; i < grid.size(); ++i) {
            QVERIFY2(at[i] >= qint64(grid[i]) * kMs,
                     qPrintable(QStringLiteral("tick %1 at %2 ms").arg(i).arg(at[i])));
        }
    }

    void aSleepingTimerRunsNothingUntilWoken() {
        TickTimer t;
        Ticks ticks(t);
        connect(&t, &TickTimer::timeout, &t, &TickTimer::sleep);
        ticks.start(t);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.at.size(), std::size_t(1), 5000);
        QVERIFY(t.isActive() && t.sleeping());
        QTest::qWait(4 * kMs);
        QCOMPARE(ticks.at.size(), std::size_t(1));
        const qint64 woken = ticks.since.elapsed();
        t.wake();
        QVERIFY(!t.sleeping());
        QTRY_COMPARE_WITH_TIMEOUT(ticks.at.size(), std::size_t(2), 5000);
        // The first grid tick after the wake-up: the phase of the start.
        const qint64 expected = (woken / kMs + 1) * kMs;
        QVERIFY2(ticks.at[1] >= expected,
                 qPrintable(QStringLiteral("woken at %1, ran at %2").arg(woken).arg(ticks.at[1])));
    }

    // The blink phase's count: nothing before its start, then the ticks
    // fallen since the last look, each counted once.
    void tickCountTellsEachFallenTickOnce() {
        lw::TickCount c(milliseconds{kMs});
        QVERIFY(!c.isActive());
        QCOMPARE(c.takeDue(), qint64(0));
        QElapsedTimer since;
        since.start();
        c.start();
        QTest::qWait(5 * kMs + kMs / 2);
        const qint64 due = c.takeDue();
        QVERIFY2(due >= 5, qPrintable(QString::number(due)));
        QVERIFY(due <= since.elapsed() / kMs);  // none beyond what came due
        const qint64 again = c.takeDue();
        QVERIFY(again <= 1);  // taken once
        QVERIFY(due + again <= since.elapsed() / kMs);
    }

    // A tick that opens an event loop in which the timer is woken again (a
    // detection under way when "Comm Options" is chosen): the ticks go on at
    // the grid's pace, never two timers' worth.
    void aTickThatWaitsInAnEventLoopKeepsOneRhythm() {
        TickTimer t;
        Ticks ticks(t);
        bool nested = false;
        connect(&t, &TickTimer::timeout, this, [&] {
            if (nested || ticks.at.size() != 1) return;
            nested = true;
            QEventLoop loop;
            QTimer::singleShot(kMs / 2, &t, [&] { t.wake(); });
            QTimer::singleShot(6 * kMs, &loop, &QEventLoop::quit);
            loop.exec();
            nested = false;
        });
        ticks.start(t);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.at.size() >= 8, 10000);
        t.stop();
        for (std::size_t i = 0; i < ticks.at.size(); ++i) {
            QVERIFY2(ticks.at[i] >= qint64(i + 1) * kMs,
                     qPrintable(QStringLiteral("tick %1 at %2 ms").arg(i).arg(ticks.at[i])));
        }
    }
};

QTEST_GUILESS_MAIN(TickTimerTest)
#include "ticktimer_test.moc"
