// linewarden-monitor publishing to a real mosquitto broker, the simulator on
// the bus: what mosquitto_sub sees against what the log file holds.
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <set>

#include "support/mosquittobroker.h"
#include "support/schemacheck.h"
#include "support/servicerun.h"

using namespace lwtest;

namespace {

std::string concatenated(const std::vector<Message>& m, const std::string& topic) {
    std::string all;
    for (const auto& x : m) {
        if (x.topic == topic) all += x.payload;
    }
    return all;
}

bool writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

}  // namespace

class MqttServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString m = mqttToolMissing(); !m.isEmpty()) {
            QSKIP(qPrintable(m + " is not installed (scripts/deps installs it)"));
        }
        QVERIFY(m_dir.isValid());
    }

    // Options from the config file, a broker that wants a password: the
    // records as the log has them, in order, and the retained board.
    void recordsAndBoardAsTheLogAndTheBoardHaveThem() {
        Broker broker(m_dir.filePath("broker1"), {.user = "boothA", .password = "pw A"});
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        const QStringList login{"-u", "boothA", "-P", "pw A"};
        Subscriber sub(broker, "lwe2e/boothA/#", "reader", false, login);
        QVERIFY(sub.waitSubscribed());

        const QString link = m_dir.filePath("bus1");
        QProcess sim;
        sim.start(QStringLiteral(LW_SIM), {"--scenario", "quick", "--link", link});
        QVERIFY(waitUntil([&] { return QFile::exists(link); }, 5000));

        const QString cred = m_dir.filePath("cred");
        QVERIFY(writeFile(cred, "boothA\npw A\n"));
        const QString conf = m_dir.filePath("monitor.conf");
        QVERIFY(writeFile(conf, "mqtt=127.0.0.1:" + QByteArray::number(broker.port()) +
                                    "\nmqtt-prefix=lwe2e\nsite=boothA\nmqtt-credentials=" +
                                    cred.toLocal8Bit() + "\n"));
        const QString log = m_dir.filePath("activity.log");
        ServiceRun service;
        QVERIFY2(
            service.start({"--device", link, "--activity", "--raw", "--log", log, "--config", conf},
                          "MQTT: connected to the broker 127.0.0.1:"),
            qPrintable(service.journal()));

        // The scenario ends and the line goes; the bus topic follows.
        QVERIFY(sim.waitForFinished(30000));
        QVERIFY(waitUntil(
            [&] {
                const auto bus = retainedNow(broker, "lwe2e/boothA/bus", 1, 2, login);
                return !bus.empty() &&
                       bus[0].payload.find("\"port\":\"lost\"") != std::string::npos;
            },
            10000));
        QCOMPARE(service.terminate(), 0);

        const QByteArray written = readAll(log);
        QVERIFY(written.contains("HAS BEEN STARTED"));
        QVERIFY(written.contains("RAW COMM DATA LOG"));
        QVERIFY(waitUntil(
            [&] {
                return concatenated(sub.messages(), "lwe2e/boothA/record").size() >=
                       std::size_t(written.size());
            },
            5000));
        QCOMPARE(QByteArray::fromStdString(concatenated(sub.messages(), "lwe2e/boothA/record")),
                 written);

        std::set<std::string> seen;
        for (const auto& m : sub.messages()) seen.insert(m.topic);
        for (int u = 1; u <= 16; ++u) {
            QVERIFY(seen.count("lwe2e/boothA/unit/" + std::to_string(u)));
        }
        QVERIFY(seen.count("lwe2e/boothA/bus"));

        // Every unit, bus and event payload as the schemas say; the units
        // went out on their meaning, the events once each, not retained.
        QByteArray retainedDocs, events;
        std::multiset<std::string> kinds;
        for (const auto& m : sub.messages()) {
            if (m.topic == "lwe2e/boothA/event") {
                QVERIFY(!m.retained);
                events += QByteArray::fromStdString(m.payload) + '\n';
                const auto k = m.payload.find("\"kind\":\"");
                kinds.insert(m.payload.substr(k + 8, m.payload.find('"', k + 8) - k - 8));
            } else if (m.topic != "lwe2e/boothA/record" && m.topic != "lwe2e/boothA/online") {
                retainedDocs += QByteArray::fromStdString(m.topic + " " + m.payload) + '\n';
            }
        }
        QString errors = schemaErrors(QStringLiteral("retained"), retainedDocs);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        errors = schemaErrors(QStringLiteral("event"), events);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        QCOMPARE(kinds.count("started"), std::size_t(QByteArray(written).count("HAS BEEN STARTED")));
        QCOMPARE(kinds.count("bus_lost"), std::size_t(1));

        const auto retained = retainedNow(broker, "lwe2e/boothA/#", 18, 5, login);
        QCOMPARE(retained.size(), std::size_t(18));
        for (const auto& m : retained) {
            QVERIFY(m.retained);
            if (m.topic == "lwe2e/boothA/online") {
                QCOMPARE(QByteArray::fromStdString(m.payload), QByteArray("0"));
            } else if (m.topic == "lwe2e/boothA/bus") {
                QVERIFY2(m.payload.find("\"port\":\"lost\"") != std::string::npos,
                         m.payload.c_str());
            }
        }
        QCOMPARE(service.journal().count("MQTT: connected to the broker"), 1);
        QVERIFY(!service.journal().contains("cannot connect"));
    }

    void lastWillAfterKill9() {
        Broker broker(m_dir.filePath("broker2"));
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        const QString link = m_dir.filePath("bus2");
        QProcess sim;
        sim.start(QStringLiteral(LW_SIM), {"--scenario", "idle", "--loop", "--link", link});
        QVERIFY(waitUntil([&] { return QFile::exists(link); }, 5000));

        ServiceRun service;
        QVERIFY2(service.start(
                     {"--device", link, "--mqtt", "127.0.0.1:" + QString::number(broker.port()),
                      "--mqtt-prefix", "lwe2e", "--site", "boothB"},
                     "MQTT: connected to the broker"),
                 qPrintable(service.journal()));
        QVERIFY(waitUntil(
            [&] {
                const auto on = retainedNow(broker, "lwe2e/boothB/online", 1, 2);
                return !on.empty() && on[0].payload == "1";
            },
            5000));

        QCOMPARE(::kill(static_cast<pid_t>(service.pid()), SIGKILL), 0);
        QVERIFY(waitUntil(
            [&] {
                const auto on = retainedNow(broker, "lwe2e/boothB/online", 1, 2);
                return !on.empty() && on[0].payload == "0";
            },
            5000));
        // The broker said it, not the service.
        QCOMPARE(broker.countInLog("Client lwe2e/boothB closed its connection."), 1);
        QCOMPARE(broker.countInLog("Client lwe2e/boothB disconnected."), 0);
        sim.terminate();
        sim.waitForFinished(5000);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(MqttServiceTest)
#include "mqtt_service_test.moc"
