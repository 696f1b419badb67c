// The MQTT link and publisher against a real mosquitto broker on loopback.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <map>
#include <set>

#include "core/contractjson.h"
#include "core/unitboard.h"
#include "net/mqtt/link.h"
#include "service/mqtt/publisher.h"
#include "support/mosquittobroker.h"

using lwtest::Broker;
using lwtest::BrokerOptions;
using lwtest::Message;
using lwtest::Subscriber;
using lwtest::waitUntil;

namespace {

// Sixteen absent units and an open port, as a service's first look sees them.
lw::BoardView boardView() {
    lw::BoardView v;
    for (int n = 1; n <= lw::kSlots; ++n) {
        v.units[static_cast<std::size_t>(n - 1)].unit = n;
        v.units[static_cast<std::size_t>(n - 1)].name = std::to_string(n);
    }
    v.bus.port = lw::PortState::Open;
    return v;
}

std::string record(int n) {
    return "KX-40 #" + std::to_string(n % 16 + 1) + " HAS BEEN STARTED " + std::to_string(n) +
           "\r\n" + std::string(lw::mqtt::kDefaultPrefix) + "\r\n";
}

std::vector<std::string> records(int from, int to) {
    std::vector<std::string> r;
    for (int i = from; i < to; ++i) r.push_back(record(i));
    return r;
}

std::vector<std::string> payloads(const std::vector<Message>& m) {
    std::vector<std::string> p;
    for (const auto& x : m) p.push_back(x.payload);
    return p;
}

// A broker, a reader following it, and a publisher whose journal lines are kept.
class MqttBrokerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString m = lwtest::mqttToolMissing(true); !m.isEmpty()) {
            GTEST_SKIP() << m.toStdString() << " is not installed (scripts/deps installs it)";
        }
        ASSERT_TRUE(m_tmp.isValid());
    }

    QString dir(const QString& name) const { return m_tmp.path() + "/" + name; }
    Broker& broker() { return *m_broker; }
    Subscriber& reader() { return *m_reader; }
    lw::mqtt::Publisher& publisher() { return *m_publisher; }

    bool startBroker(BrokerOptions o = {}) {
        m_broker = std::make_unique<Broker>(dir("broker"), std::move(o));
        return m_broker->start();
    }
    // A reader on `filter`; with `persistent` the broker keeps its session.
    bool follow(const QString& filter, bool persistent = false) {
        m_reader.reset();
        m_reader = std::make_unique<Subscriber>(*m_broker, filter, "reader", persistent);
        return m_reader->waitSubscribed();
    }
    lw::mqtt::Settings settings(const std::string& site, int port = 0) {
        lw::mqtt::Settings s;
        s.broker = {"127.0.0.1", port ? port : m_broker->port()};
        s.prefix = "lwtest";
        s.site = site;
        return s;
    }
    lw::Result<> startPublisher(lw::mqtt::Settings s) {
        m_publisher = std::make_unique<lw::mqtt::Publisher>(
            std::move(s), [this](const std::string& line) { m_journal.push_back(line); });
        return m_publisher->start();
    }
    std::string writeFile(const QString& name, const QByteArray& text) {
        QFile f(dir(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        return f.fileName().toStdString();
    }
    int told(const std::string& text) const {
        int n = 0;
        for (const auto& l : m_journal) n += l.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string journal() const {
        std::string s;
        for (const auto& l : m_journal) s += l + "\n";
        return s;
    }
    bool delivered(std::uint64_t n, int ms = 10000) {
        return waitUntil([&] { return m_publisher->stats().delivered == n; }, ms);
    }
    // Waits until the reader's last message on `topic` is `payload`.
    bool readerGot(const std::string& topic, const std::string& payload, int ms = 10000) {
        return m_reader->waitFor(
            [&](const auto& m) {
                for (auto it = m.rbegin(); it != m.rend(); ++it) {
                    if (it->topic == topic) return it->payload == payload;
                }
                return false;
            },
            ms);
    }

    QTemporaryDir m_tmp;
    std::unique_ptr<Broker> m_broker;
    std::unique_ptr<Subscriber> m_reader;
    std::vector<std::string> m_journal;
    std::unique_ptr<lw::mqtt::Publisher> m_publisher;
};

}  // namespace

TEST_F(MqttBrokerTest, RetainedTopicsRecordsInOrderAndACleanStop) {
    ASSERT_TRUE(startBroker()) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth1/#"));
    ASSERT_TRUE(startPublisher(settings("booth1")).ok);
    lw::BoardView board = boardView();
    board.units[2].state = lw::UnitState::Running;
    publisher().publishBoard(board);
    for (int i = 0; i < 300; ++i) publisher().publishRecord(record(i));

    ASSERT_TRUE(readerGot("lwtest/booth1/record", record(299))) << journal();
    EXPECT_EQ(payloads(reader().on("lwtest/booth1/record")), records(0, 300));
    EXPECT_TRUE(delivered(300));
    EXPECT_EQ(told("connected to the broker 127.0.0.1:"), 1) << journal();

    // A change goes out once; an unchanged board publishes nothing more
    // (unit 4 comes after, so unit 3 has had its chance).
    board.units[2].state = lw::UnitState::Failed;
    board.units[2].cause = "presence";
    publisher().publishBoard(board);
    publisher().publishBoard(board);
    board.units[3].state = lw::UnitState::Ready;
    publisher().publishBoard(board);
    ASSERT_TRUE(readerGot("lwtest/booth1/unit/4", lw::unitDocJson(board.units[3], board.at)));
    EXPECT_EQ(reader().on("lwtest/booth1/unit/3").size(), 2u);

    // Events go out once each, QoS 1, not retained; the service's own do not.
    lw::BoardEvent failed;
    failed.seq = 1;
    failed.kind = lw::EventKind::Failed;
    failed.unit = 3;
    failed.name = "3";
    failed.cause = "presence";
    failed.clock = "0:00:12";
    publisher().publishEvent(failed);
    lw::BoardEvent logFailed;
    logFailed.seq = 2;
    logFailed.kind = lw::EventKind::LogFailed;
    logFailed.text = "cannot write the activity log";
    publisher().publishEvent(logFailed);
    ASSERT_TRUE(readerGot("lwtest/booth1/event", lw::eventJson(failed)));
    EXPECT_EQ(reader().on("lwtest/booth1/event").size(), 1u);

    // A reader arriving later finds every retained topic with its last value.
    const auto retained = lwtest::retainedNow(broker(), "lwtest/booth1/#", 18);
    ASSERT_EQ(retained.size(), 18u);
    std::map<std::string, std::string> last;
    for (const auto& m : retained) {
        EXPECT_TRUE(m.retained) << m.topic;
        last[m.topic] = m.payload;
    }
    EXPECT_EQ(last["lwtest/booth1/online"], "1");
    EXPECT_EQ(last["lwtest/booth1/bus"], lw::busDocJson(board.bus, board.at));
    EXPECT_NE(last["lwtest/booth1/unit/3"].find(R"("state":"failed")"), std::string::npos);
    EXPECT_EQ(last.count("lwtest/booth1/event"), 0u);
    EXPECT_EQ(last.count("lwtest/booth1/record"), 0u);

    // A clean stop says "0" itself and disconnects, so the broker drops the will.
    publisher().stop();
    const auto online = lwtest::retainedNow(broker(), "lwtest/booth1/online", 1);
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0].payload, "0");
    EXPECT_TRUE(waitUntil(
        [&] { return broker().countInLog("Client lwtest/booth1 disconnected.") == 1; }, 3000))
        << broker().log().toStdString();

    // Publishing only: the broker never got a subscription from the service.
    EXPECT_EQ(broker().countInLog("Received SUBSCRIBE from lwtest/booth1"), 0);
    EXPECT_EQ(broker().countInLog("Received SUBSCRIBE from reader"), 1);
}

TEST_F(MqttBrokerTest, AStopDeliversTheQueueBeforeSayingGoodbye) {
    ASSERT_TRUE(startBroker()) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth8/#"));
    ASSERT_TRUE(startPublisher(settings("booth8")).ok);
    ASSERT_TRUE(waitUntil([&] { return publisher().stats().connected; }, 5000));

    for (int i = 0; i < 2000; ++i) publisher().publishRecord(record(i));
    publisher().stop();
    EXPECT_EQ(publisher().stats().delivered, 2000u) << journal();
    EXPECT_EQ(told("not delivered"), 0) << journal();

    ASSERT_TRUE(readerGot("lwtest/booth8/online", "0"));
    EXPECT_EQ(payloads(reader().on("lwtest/booth8/record")), records(0, 2000));
    EXPECT_EQ(reader().messages().back().topic, "lwtest/booth8/online");
}

TEST_F(MqttBrokerTest, BrokerAwayAtStartKeepsTheNewestRecordsInABoundedQueue) {
    // The reader's session lives in the broker across its restart, so it gets
    // whatever arrives while it reconnects.
    ASSERT_TRUE(startBroker({.persistence = true})) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth2/record", true));
    m_reader.reset();
    broker().stop();

    auto s = settings("booth2");
    s.queueCapacity = 50;
    ASSERT_TRUE(startPublisher(s).ok);
    for (int i = 0; i < 120; ++i) publisher().publishRecord(record(i));
    ASSERT_TRUE(waitUntil([&] { return told("queue is full (50 records)") == 1; }, 3000))
        << journal();
    EXPECT_TRUE(waitUntil([&] { return told("cannot connect to the broker") == 1; }, 3000));
    EXPECT_EQ(publisher().stats().dropped, 70u);
    EXPECT_EQ(publisher().stats().queued, 50u);
    EXPECT_FALSE(publisher().stats().connected);

    ASSERT_TRUE(broker().start());
    ASSERT_TRUE(follow("lwtest/booth2/record", true));
    ASSERT_TRUE(readerGot("lwtest/booth2/record", record(119), 15000)) << journal();
    EXPECT_EQ(payloads(reader().messages()), records(70, 120));
    EXPECT_TRUE(waitUntil(
        [&] { return told("70 records were dropped while the queue was full") == 1; }, 3000))
        << journal();
    EXPECT_EQ(told("cannot connect to the broker"), 1) << journal();
}

// The broker goes away while the monitoring thread goes on handing over
// records and boards; it comes back after failed attempts.
TEST_F(MqttBrokerTest, BrokerStoppedLosesAndRepeatsNothing) {
    ASSERT_TRUE(startBroker({.persistence = true})) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth3/#", true));
    ASSERT_TRUE(startPublisher(settings("booth3")).ok);
    lw::BoardView board = boardView();
    int n = 0;
    auto feed = [&](int count) {
        for (int i = 0; i < count; ++i) {
            publisher().publishRecord(record(n++));
            publisher().publishBoard(board);
        }
    };
    // Stopped with nothing in flight either way: QoS 1 may repeat what was.
    feed(50);
    ASSERT_TRUE(delivered(50));
    ASSERT_TRUE(readerGot("lwtest/booth3/record", record(49)));
    broker().stop();
    feed(20);  // handed over before the publisher knows
    ASSERT_TRUE(waitUntil([&] { return told("lost the broker 127.0.0.1:") == 1; }, 5000))
        << journal();
    board.units[4].state = lw::UnitState::Ready;  // changes while the broker is away
    feed(50);
    ASSERT_TRUE(waitUntil([&] { return told("cannot connect") == 1; }, 5000)) << journal();
    feed(50);
    ASSERT_TRUE(broker().start());
    feed(30);
    ASSERT_TRUE(delivered(std::uint64_t(n), 15000)) << journal();
    ASSERT_TRUE(readerGot("lwtest/booth3/record", record(n - 1)));

    EXPECT_EQ(payloads(reader().on("lwtest/booth3/record")), records(0, n));
    EXPECT_EQ(publisher().stats().dropped, 0u);
    EXPECT_EQ(told("lost the broker"), 1) << journal();
    EXPECT_EQ(told("connected to the broker"), 2) << journal();
    EXPECT_EQ(told("cannot connect"), 1) << journal();

    // Every retained topic went out again after the reconnect, the unit that
    // changed meanwhile with its new state.
    const auto all = reader().messages();
    std::size_t lastOnline = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].topic == "lwtest/booth3/online") lastOnline = i;
    }
    std::set<std::string> again;
    for (std::size_t i = lastOnline; i < all.size(); ++i) again.insert(all[i].topic);
    for (int u = 1; u <= 16; ++u) {
        EXPECT_TRUE(again.count("lwtest/booth3/unit/" + std::to_string(u))) << u;
    }
    EXPECT_TRUE(again.count("lwtest/booth3/bus"));
    const auto unit5 = lwtest::retainedNow(broker(), "lwtest/booth3/unit/5", 1);
    ASSERT_EQ(unit5.size(), 1u);
    EXPECT_NE(unit5[0].payload.find(R"("state":"ready")"), std::string::npos);
}

TEST_F(MqttBrokerTest, RecordsInFlightToADeadBrokerAreSentAgainFirst) {
    ASSERT_TRUE(startBroker()) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth7/record"));
    ASSERT_TRUE(startPublisher(settings("booth7")).ok);
    int n = 0;
    for (; n < 20; ++n) publisher().publishRecord(record(n));
    ASSERT_TRUE(delivered(20));

    // Frozen, the broker takes the packets into its socket and never answers:
    // the records are in flight. Killed, it never handles them. Fewer than
    // fill the window, so nothing holds newer records back but the order itself.
    ASSERT_EQ(::kill(static_cast<pid_t>(broker().pid()), SIGSTOP), 0);
    for (; n < 30; ++n) publisher().publishRecord(record(n));
    ASSERT_TRUE(waitUntil([&] { return publisher().stats().queued == 0; }, 3000));
    EXPECT_EQ(publisher().stats().delivered, 20u);
    ASSERT_EQ(::kill(static_cast<pid_t>(broker().pid()), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return told("cannot connect") == 1; }, 5000)) << journal();
    for (; n < 60; ++n) publisher().publishRecord(record(n));
    EXPECT_EQ(reader().messages().size(), 20u);

    // A new broker on the same port, read from the start.
    m_reader.reset();
    auto second = std::make_unique<Broker>(dir("second"));
    second->takePort(broker());
    m_broker = std::move(second);
    ASSERT_TRUE(broker().start()) << broker().error().toStdString();
    ASSERT_TRUE(follow("lwtest/booth7/record"));
    for (; n < 70; ++n) publisher().publishRecord(record(n));
    ASSERT_TRUE(delivered(70)) << journal();
    ASSERT_TRUE(readerGot("lwtest/booth7/record", record(69)));
    EXPECT_EQ(payloads(reader().messages()), records(20, 70));
}

TEST_F(MqttBrokerTest, AWrongPasswordIsToldOnceAndTheRightOneAccepted) {
    ASSERT_TRUE(startBroker({.user = "booth4", .password = "right horse"}))
        << broker().error().toStdString();
    auto s = settings("booth4");
    s.credentialsFile = writeFile("wrong.cred", "booth4\nwrong horse\n");
    QElapsedTimer since;
    since.start();
    ASSERT_TRUE(startPublisher(s).ok);
    // Refused again after the first back-off step, not at once, and told once.
    ASSERT_TRUE(
        waitUntil([&] { return broker().countInLog("disconnected, not authorised.") >= 2; }, 5000))
        << broker().log().toStdString();
    EXPECT_GE(since.elapsed(), lw::mqtt::kFirstRetry.count() * 9 / 10);  // coarse: 5 % early
    EXPECT_FALSE(publisher().stats().connected);
    publisher().stop();
    EXPECT_EQ(told("not authorised"), 1) << journal();

    s.credentialsFile = writeFile("right.cred", "booth4\r\nright horse\r\n");
    ASSERT_TRUE(startPublisher(s).ok);
    ASSERT_TRUE(waitUntil([&] { return publisher().stats().connected; }, 5000)) << journal();
    EXPECT_TRUE(waitUntil([&] { return told("connected to the broker") == 1; }, 1000));

    s.credentialsFile = dir("missing.cred").toStdString();
    lw::mqtt::Publisher unreadable(s);
    EXPECT_EQ(unreadable.start().error, s.credentialsFile + ": cannot read the file");
}

TEST_F(MqttBrokerTest, TlsWithTheBrokersCaAndNotWithAnother) {
    ASSERT_TRUE(startBroker({.tls = true})) << broker().error().toStdString();
    auto s = settings("booth5", broker().tlsPort());
    s.cafile = broker().caFile().toStdString();
    ASSERT_TRUE(startPublisher(s).ok);
    publisher().publishRecord(record(1));
    ASSERT_TRUE(delivered(1, 5000)) << journal();
    const auto online = lwtest::retainedNow(broker(), "lwtest/booth5/online", 1);
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0].payload, "1");

    // A broker whose certificate another CA signed is not trusted.
    Broker other(dir("other"), {.tls = true});
    ASSERT_TRUE(other.start()) << other.error().toStdString();
    auto t = settings("booth6", other.tlsPort());
    t.cafile = broker().caFile().toStdString();
    ASSERT_TRUE(startPublisher(t).ok);
    ASSERT_TRUE(waitUntil([&] { return told("cannot connect") == 1; }, 5000)) << journal();
    EXPECT_EQ(told("certificate verify failed"), 1) << journal();
    EXPECT_FALSE(publisher().stats().connected);

    // A CA file that cannot be read is told at start.
    auto u = s;
    u.cafile = dir("missing.crt").toStdString();
    lw::mqtt::Publisher missing(u);
    const auto r = missing.start();
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("missing.crt"), std::string::npos) << r.error;
}

// The link alone, as a hub uses it: QoS 1 on a persistent session, messages
// delivered on the owner's thread with their bytes as sent.
TEST_F(MqttBrokerTest, TheLinkSubscribesOnAPersistentSession) {
    ASSERT_TRUE(startBroker()) << broker().error().toStdString();
    std::vector<std::pair<std::string, std::string>> got;
    int closed = 0;
    auto hub = [&] {
        lw::mqtt::LinkSettings s{.broker = {"127.0.0.1", broker().port()},
                                 .clientId = "lwtest-hub",
                                 .cleanSession = false};
        lw::mqtt::LinkEvents e;
        e.message = [&](const std::string& topic, const std::string& payload) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            got.emplace_back(topic, payload);
        };
        e.closed = [&] { ++closed; };
        auto link = lw::mqtt::Link::create(s, e);
        EXPECT_TRUE(link.ok) << link.error;
        return std::move(link.value);
    };
    auto writer = lw::mqtt::Link::create(
        {.broker = {"127.0.0.1", broker().port()}, .clientId = "lwtest-writer"}, {});
    ASSERT_TRUE(writer.ok);
    writer.value->open();

    auto reader = hub();
    reader->subscribe("lwtest/+/record");
    reader->open();
    ASSERT_TRUE(
        waitUntil([&] { return reader->isConnected() && writer.value->isConnected(); }, 5000));
    ASSERT_TRUE(waitUntil(
        [&] { return broker().countInLog("Received SUBSCRIBE from lwtest-hub") == 1; }, 5000));
    const std::string bytes("r1\0\xff", 4);
    writer.value->publish("lwtest/booth1/record", bytes, false);
    ASSERT_TRUE(waitUntil([&] { return got.size() == 1; }, 5000));
    EXPECT_EQ(got[0], std::make_pair(std::string("lwtest/booth1/record"), bytes));

    // Away, the broker keeps its messages; back, it gets them without
    // subscribing again.
    reader->close();
    ASSERT_TRUE(waitUntil([&] { return closed == 1; }, 3000));
    writer.value->publish("lwtest/booth2/record", "r2", false);
    writer.value->publish("lwtest/booth2/other", "not asked for", false);
    ASSERT_TRUE(waitUntil([&] { return writer.value->unacknowledged() == 0; }, 5000));
    reader = hub();
    reader->open();
    ASSERT_TRUE(waitUntil([&] { return got.size() == 2; }, 5000));
    EXPECT_EQ(got[1], std::make_pair(std::string("lwtest/booth2/record"), std::string("r2")));
    EXPECT_EQ(broker().countInLog("Received SUBSCRIBE from lwtest-hub"), 1);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
