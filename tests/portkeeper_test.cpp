// Automatic reopening against pseudo-terminals the test makes and unmakes
// itself, behind a fixed path.
#include "serial/portkeeper.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "serial/commport.h"
#include "support/testbus.h"

using lw::CommPort;
using lw::PortKeeper;
using State = lw::PortKeeper::State;

namespace {

// Reads as the decoder tick does, every 100 ms, until `want` came.
std::string readUntil(CommPort& port, std::size_t want, int timeoutMs) {
    std::string got;
    QElapsedTimer t;
    t.start();
    while (got.size() < want && t.elapsed() < timeoutMs) {
        QTest::qWait(100);
        got += port.input();
    }
    return got;
}

// Reads every 100 ms until the keeper reaches `s`.
bool readUntilState(CommPort& port, const PortKeeper& keeper, State s, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (keeper.state() != s && t.elapsed() < timeoutMs) {
        QTest::qWait(100);
        port.input();
    }
    return keeper.state() == s;
}

}  // namespace

class PortKeeperTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("kx40bus"));
        m_bus = std::make_unique<lwtest::TestBus>(m_link);
        QVERIFY(plugIn());
        m_port = std::make_unique<CommPort>([this](int) { return m_link; });
        m_keeper = std::make_unique<PortKeeper>(*m_port);
    }
    void cleanup() {
        m_keeper.reset();
        m_port.reset();
        m_bus.reset();
    }

    void lostDeviceIsToldOnceAndReopenedWhenItComesBack() {
        QSignalSpy changes(m_keeper.get(), &PortKeeper::stateChanged);
        QVERIFY(m_keeper->open(1, "4800,n,8,1").ok);
        QCOMPARE(m_keeper->state(), State::Open);
        QCOMPARE(m_keeper->device(), m_link);
        m_bus->send("0iq");
        QCOMPARE(readUntil(*m_port, 3, 3000), std::string("0iq"));

        unplug();
        QVERIFY(readUntilState(*m_port, *m_keeper, State::Lost, 3000));
        QVERIFY(!m_port->portOpen());
        const QString why = m_keeper->reason();
        qInfo("lost: %s", qPrintable(why));
        QVERIFY(!why.isEmpty());
        QVERIFY(why != QStringLiteral("Unknown error"));

        // Several retries pass with the device away: still told only once.
        QTRY_VERIFY_WITH_TIMEOUT(m_keeper->attempts() >= 2, 3 * PortKeeper::kRetryPeriod.count());
        QCOMPARE(m_keeper->state(), State::Lost);
        QVERIFY(!m_keeper->reason().isEmpty());
        QCOMPARE(changes.count(), 2);

        // Back at the same path: reopened within a retry period, bytes resume.
        QVERIFY(plugIn());
        QElapsedTimer t;
        t.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->state(), State::Open, 3000);
        QVERIFY(t.elapsed() <= PortKeeper::kRetryPeriod.count() + 500);
        QVERIFY(m_keeper->reason().isEmpty());
        QVERIFY(m_port->portOpen());
        m_bus->send("1ju");
        QCOMPARE(readUntil(*m_port, 3, 3000), std::string("1ju"));

        QCOMPARE(changes.count(), 3);
        const QList<State> seen{changes.at(0).at(0).value<State>(),
                                changes.at(1).at(0).value<State>(),
                                changes.at(2).at(0).value<State>()};
        QCOMPARE(seen, (QList<State>{State::Open, State::Lost, State::Open}));
        QCOMPARE(changes.at(1).at(1).toString(), why);

        // The reopened port is still listen-only.
        QTest::qWait(50);
        QCOMPARE(m_bus->cameBack(), std::string());
    }

    void reopensWithTheSameLineFormat() {
        QVERIFY(m_keeper->open(1, "1200,n,8,1").ok);
        unplug();
        QVERIFY(readUntilState(*m_port, *m_keeper, State::Lost, 3000));
        // The pty reports the speed its reader set; a reopen must set 1200 again.
        QVERIFY(plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->state(), State::Open, 3000);
        QCOMPARE(m_bus->lineSpeed(), 1200);
    }

    void firstOpenFailurePolicies() {
        unplug();
        const auto strict = m_keeper->open(1, "4800,n,8,1");
        QVERIFY(!strict.ok);
        QCOMPARE(m_keeper->state(), State::Closed);
        QVERIFY(!m_keeper->reason().isEmpty());
        QVERIFY(!m_keeper->retrying());  // nothing to be retried

        const auto patient = m_keeper->open(1, "4800,n,8,1", PortKeeper::FirstOpen::KeepTrying);
        QVERIFY(!patient.ok);
        QCOMPARE(m_keeper->state(), State::Lost);
        QVERIFY(plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(m_keeper->state(), State::Open, 3000);
        m_bus->send("2iz");
        QCOMPARE(readUntil(*m_port, 3, 3000), std::string("2iz"));
    }

    void closeStopsTheRetries() {
        QVERIFY(m_keeper->open(1, "4800,n,8,1").ok);
        unplug();
        QVERIFY(readUntilState(*m_port, *m_keeper, State::Lost, 3000));
        m_keeper->close();
        QCOMPARE(m_keeper->state(), State::Closed);
        QVERIFY(!m_keeper->retrying());
        QVERIFY(plugIn());
        QCOMPARE(m_keeper->state(), State::Closed);
        QVERIFY(!m_port->portOpen());
        QCOMPARE(m_keeper->attempts(), 0);
    }

    void badSettingsAreNotRetried() {
        // Waiting cannot mend a line format or number the port rejects.
        for (const auto& [number, settings] :
             {std::pair{1, std::string(",n,8,1")}, std::pair{0, std::string("4800,n,8,1")}}) {
            const auto r = m_keeper->open(number, settings, PortKeeper::FirstOpen::KeepTrying);
            QVERIFY(!r.ok);
            QCOMPARE(m_keeper->state(), State::Closed);
            QVERIFY(!m_keeper->reason().isEmpty());
        }
        QVERIFY(!m_keeper->retrying());
        QCOMPARE(m_keeper->attempts(), 0);
        QVERIFY(!m_port->portOpen());
    }

private:
    bool plugIn() { return m_bus->plugIn(); }
    void unplug() { m_bus->unplug(); }

    QTemporaryDir m_dir;
    QString m_link;
    std::unique_ptr<lwtest::TestBus> m_bus;
    std::unique_ptr<CommPort> m_port;
    std::unique_ptr<PortKeeper> m_keeper;
};

QTEST_GUILESS_MAIN(PortKeeperTest)
#include "portkeeper_test.moc"
