// SIGTERM and SIGINT reach the program as one event each time, between
// other events, and the program runs on after it.
#include "platform/stopsignals.h"

#include <QSignalSpy>
#include <QtTest>
#include <csignal>

class StopSignalsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachStopSignalIsOneEvent() {
        lw::StopSignals stops;
        QSignalSpy spy(&stops, &lw::StopSignals::requested);
        bool duringATick = false;
        // Raised in the middle of a tick: told only after the tick is done.
        QTimer::singleShot(10, this, [&] {
            std::raise(SIGTERM);
            duringATick = spy.isEmpty();
        });
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
        QVERIFY(duringATick);

        std::raise(SIGINT);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 5000);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 2);  // nothing more without a signal
    }

    void aSecondWatcherLaterWorksToo() {
        {
            lw::StopSignals first;
        }
        lw::StopSignals again;
        QSignalSpy spy(&again, &lw::StopSignals::requested);
        std::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
    }
};

QTEST_GUILESS_MAIN(StopSignalsTest)
#include "stopsignals_test.moc"
