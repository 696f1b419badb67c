// The MQTT publisher against a real mosquitto broker on loopback.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <mutex>
#include <regex>

#include "core/unitboard.h"
#include "service/mqttpublisher.h"
#include "support/mosquittobroker.h"

using lwtest::Broker;
using lwtest::BrokerOptions;
using lwtest::Message;
using lwtest::Subscriber;

namespace {

// What the publisher told the journal, from its own thread.
class Journal {
public:
    lw::mqtt::Publisher::Tell tell() {
        return [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const auto& l : lines()) n += l.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string all() const {
        std::string s;
        for (const auto& l : lines()) s += l + "\n";
        return s;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

lw::mqtt::Settings settings(int port, const std::string& site) {
    lw::mqtt::Settings s;
    s.broker = {"127.0.0.1", port};
    s.prefix = "lwtest";
    s.site = site;
    return s;
}

std::string record(int n) {
    return "KX-40 #" + std::to_string(n % 16 + 1) + " HAS BEEN STARTED " + std::to_string(n) +
           "\r\n" + std::string(lw::mqtt::kDefaultPrefix) + "\r\n";
}

std::vector<std::string> payloads(const std::vector<Message>& m) {
    std::vector<std::string> p;
    for (const auto& x : m) p.push_back(x.payload);
    return p;
}

class MqttPublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString m = lwtest::mqttToolMissing(needsTls()); !m.isEmpty()) {
            GTEST_SKIP() << m.toStdString() << " is not installed (scripts/deps installs it)";
        }
        ASSERT_TRUE(m_tmp.isValid());
    }
    virtual bool needsTls() const { return false; }
    QString dir(const QString& name) const { return m_tmp.path() + "/" + name; }

    QTemporaryDir m_tmp;
};

class MqttTlsTest : public MqttPublisherTest {
protected:
    bool needsTls() const override { return true; }
};

}  // namespace

TEST_F(MqttPublisherTest, RetainedTopicsRecordsInOrderAndACleanStop) {
    Broker broker(dir("b"));
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    Subscriber sub(broker, "lwtest/booth1/#", "reader");
    ASSERT_TRUE(sub.waitSubscribed());

    Journal journal;
    lw::mqtt::Publisher pub(settings(broker.port(), "booth1"), journal.tell());
    ASSERT_TRUE(pub.start().ok);
    lw::UnitBoard board;
    board.slot(3).status = "SHOW RUN";
    board.slot(3).name = std::string("Salle \xe9", 7);
    pub.board(board, "open");
    for (int i = 0; i < 300; ++i) pub.record(record(i));

    ASSERT_TRUE(sub.waitFor(
        [](const auto& m) {
            int n = 0;
            for (const auto& x : m) n += x.topic == "lwtest/booth1/record";
            return n >= 300;
        },
        10000))
        << journal.all();
    std::vector<std::string> want;
    for (int i = 0; i < 300; ++i) want.push_back(record(i));
    EXPECT_EQ(payloads(sub.on("lwtest/booth1/record")), want);
    EXPECT_TRUE(lwtest::waitUntil([&] { return pub.stats().delivered == 300u; }, 3000));
    EXPECT_EQ(journal.count("connected to the broker 127.0.0.1:"), 1) << journal.all();

    // A change goes out once; an unchanged board publishes nothing more.
    board.slot(3).status = "HELP ME";
    pub.board(board, "open");
    pub.board(board, "open");
    ASSERT_TRUE(sub.waitFor(
        [](const auto& m) {
            int n = 0;
            for (const auto& x : m) n += x.topic == "lwtest/booth1/unit/3";
            return n >= 2;
        },
        5000));
    QThread::msleep(300);
    EXPECT_EQ(sub.on("lwtest/booth1/unit/3").size(), 2u);

    // A reader arriving later finds every retained topic with its last value.
    const auto retained = lwtest::retainedNow(broker, "lwtest/booth1/#", 18);
    ASSERT_EQ(retained.size(), 18u);
    std::map<std::string, std::string> last;
    for (const auto& m : retained) {
        EXPECT_TRUE(m.retained) << m.topic;
        last[m.topic] = m.payload;
    }
    EXPECT_EQ(last["lwtest/booth1/online"], "1");
    EXPECT_EQ(last["lwtest/booth1/bus"], R"({"remote":false,"noise":false,"port":"open"})");
    EXPECT_EQ(last["lwtest/booth1/unit/3"],
              R"({"name":"Salle \u00e9","status":"HELP ME","clock":" ","panel":"#000000",)"
              R"("lamp":"#000000"})");
    EXPECT_EQ(last["lwtest/booth1/unit/16"],
              R"({"name":"16","status":" ","clock":" ","panel":"#000000","lamp":"#000000"})");
    EXPECT_EQ(last.count("lwtest/booth1/record"), 0u);

    // A clean stop says "0" itself and disconnects, so the broker drops the will.
    pub.stop();
    const auto online = lwtest::retainedNow(broker, "lwtest/booth1/online", 1);
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0].payload, "0");
    EXPECT_TRUE(lwtest::waitUntil(
        [&] { return broker.countInLog("Client lwtest/booth1 disconnected.") == 1; }, 3000))
        << broker.log().toStdString();

    // Publishing only: the broker never got a subscription from the service.
    EXPECT_EQ(broker.countInLog("Received SUBSCRIBE from lwtest/booth1"), 0);
    EXPECT_EQ(broker.countInLog("Received SUBSCRIBE from reader"), 1);
}

TEST_F(MqttPublisherTest, AStopDeliversTheQueueBeforeSayingGoodbye) {
    Broker broker(dir("b"));
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    Subscriber sub(broker, "lwtest/booth8/#", "reader");
    ASSERT_TRUE(sub.waitSubscribed());
    Journal journal;
    lw::mqtt::Publisher pub(settings(broker.port(), "booth8"), journal.tell());
    ASSERT_TRUE(pub.start().ok);
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().connected; }, 5000));

    for (int i = 0; i < 2000; ++i) pub.record(record(i));
    pub.stop();
    EXPECT_EQ(pub.stats().delivered, 2000u) << journal.all();
    EXPECT_EQ(journal.count("not delivered"), 0) << journal.all();

    ASSERT_TRUE(sub.waitFor([](const auto& m) { return m.size() >= 2002u; }, 5000));
    const auto all = sub.messages();
    std::vector<std::string> records, want;
    for (const auto& m : all) {
        if (m.topic == "lwtest/booth8/record") records.push_back(m.payload);
    }
    for (int i = 0; i < 2000; ++i) want.push_back(record(i));
    EXPECT_EQ(records, want);
    EXPECT_EQ(all.back().topic, "lwtest/booth8/online");
    EXPECT_EQ(all.back().payload, "0");
}

TEST_F(MqttPublisherTest, BrokerAwayAtStartKeepsTheNewestRecordsInABoundedQueue) {
    // The reader's session lives in the broker across its restart, so it gets
    // whatever arrives while it reconnects.
    Broker broker(dir("b"), {.persistence = true});
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    {
        Subscriber sub(broker, "lwtest/booth2/record", "reader", true);
        ASSERT_TRUE(sub.waitSubscribed());
    }
    broker.stop();

    Journal journal;
    auto s = settings(broker.port(), "booth2");
    s.queueCapacity = 50;
    lw::mqtt::Publisher pub(s, journal.tell());
    ASSERT_TRUE(pub.start().ok);
    for (int i = 0; i < 120; ++i) pub.record(record(i));
    ASSERT_TRUE(
        lwtest::waitUntil([&] { return journal.count("queue is full (50 records)") == 1; }, 3000))
        << journal.all();
    EXPECT_EQ(journal.count("cannot connect to the broker"), 1) << journal.all();
    EXPECT_EQ(pub.stats().dropped, 70u);
    EXPECT_EQ(pub.stats().queued, 50u);
    EXPECT_FALSE(pub.stats().connected);

    ASSERT_TRUE(broker.start());
    Subscriber sub(broker, "lwtest/booth2/record", "reader", true);
    ASSERT_TRUE(sub.waitFor([](const auto& m) { return m.size() >= 50; }, 15000)) << journal.all();
    QThread::msleep(300);
    std::vector<std::string> want;
    for (int i = 70; i < 120; ++i) want.push_back(record(i));
    EXPECT_EQ(payloads(sub.messages()), want);
    EXPECT_TRUE(lwtest::waitUntil(
        [&] { return journal.count("70 records were dropped while the queue was full") == 1; },
        3000))
        << journal.all();
    // Told once for the whole streak of failed attempts.
    EXPECT_EQ(journal.count("cannot connect to the broker"), 1) << journal.all();
}

TEST_F(MqttPublisherTest, BrokerStoppedTwentySecondsLosesAndRepeatsNothing) {
    Broker broker(dir("b"), {.persistence = true});
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    Subscriber sub(broker, "lwtest/booth3/#", "reader", true);
    ASSERT_TRUE(sub.waitSubscribed());

    Journal journal;
    lw::mqtt::Publisher pub(settings(broker.port(), "booth3"), journal.tell());
    ASSERT_TRUE(pub.start().ok);
    lw::UnitBoard board;
    pub.board(board, "open");

    // The monitoring thread goes on at its pace whatever the broker does:
    // a record every 100 ms, the board after every tick.
    int n = 0;
    auto run = [&](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            pub.record(record(n++));
            pub.board(board, "open");
            QThread::msleep(100);
        }
    };
    run(2000);
    broker.stop();
    board.slot(5).status = "READY";  // changes while the broker is away
    run(20000);
    ASSERT_TRUE(broker.start());
    run(1000);
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().delivered == std::uint64_t(n); }, 40000))
        << journal.all() << " delivered " << pub.stats().delivered << " of " << n;
    run(1000);
    ASSERT_TRUE(sub.waitFor(
        [&](const auto& m) {
            int r = 0;
            for (const auto& x : m) r += x.topic == "lwtest/booth3/record";
            return r >= n;
        },
        10000));

    std::vector<std::string> want;
    for (int i = 0; i < n; ++i) want.push_back(record(i));
    EXPECT_EQ(payloads(sub.on("lwtest/booth3/record")), want);
    EXPECT_EQ(pub.stats().dropped, 0u);
    EXPECT_EQ(journal.count("lost the broker 127.0.0.1:"), 1) << journal.all();
    EXPECT_EQ(journal.count("connected to the broker"), 2) << journal.all();

    // Every retained topic went out again after the reconnect, the unit that
    // changed meanwhile with its new state.
    const auto all = sub.messages();
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
    const auto unit5 = lwtest::retainedNow(broker, "lwtest/booth3/unit/5", 1);
    ASSERT_EQ(unit5.size(), 1u);
    EXPECT_NE(unit5[0].payload.find(R"("status":"READY")"), std::string::npos);

    // The failed attempts while it was away were told once.
    EXPECT_EQ(journal.count("cannot connect"), 1) << journal.all();
}

TEST_F(MqttPublisherTest, RecordsInFlightToADeadBrokerAreSentAgainFirst) {
    Broker first(dir("first"));
    ASSERT_TRUE(first.start()) << first.error().toStdString();
    auto before = std::make_unique<Subscriber>(first, "lwtest/booth7/record", "before");
    ASSERT_TRUE(before->waitSubscribed());

    Journal journal;
    lw::mqtt::Publisher pub(settings(first.port(), "booth7"), journal.tell());
    ASSERT_TRUE(pub.start().ok);
    int n = 0;
    for (; n < 20; ++n) pub.record(record(n));
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().delivered == 20u; }, 5000));
    ASSERT_TRUE(before->waitFor([](const auto& m) { return m.size() == 20u; }, 5000));

    // Frozen, the broker takes the packets into its socket and never answers:
    // the records are in flight. Killed, it never handles them.
    // Fewer than fill the window, so nothing holds newer records back but the
    // order itself.
    ASSERT_EQ(::kill(static_cast<pid_t>(first.pid()), SIGSTOP), 0);
    for (; n < 30; ++n) pub.record(record(n));
    QThread::msleep(300);
    EXPECT_EQ(pub.stats().delivered, 20u);
    EXPECT_EQ(pub.stats().queued, 0u);
    ASSERT_EQ(::kill(static_cast<pid_t>(first.pid()), SIGKILL), 0);
    ASSERT_TRUE(lwtest::waitUntil([&] { return journal.count("cannot connect") == 1; }, 5000))
        << journal.all();
    for (; n < 60; ++n) pub.record(record(n));
    EXPECT_EQ(before->messages().size(), 20u);
    before.reset();

    // A new broker on the same port, read from the start.
    Broker second(dir("second"));
    second.takePort(first);
    ASSERT_TRUE(second.start()) << second.error().toStdString();
    Subscriber after(second, "lwtest/booth7/record", "after");
    ASSERT_TRUE(after.waitSubscribed());
    for (; n < 70; ++n) pub.record(record(n));
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().delivered == 70u; }, 10000))
        << journal.all();
    ASSERT_TRUE(after.waitFor([](const auto& m) { return m.size() >= 50u; }, 5000));
    QThread::msleep(300);

    std::vector<std::string> want;
    for (int i = 20; i < 70; ++i) want.push_back(record(i));
    EXPECT_EQ(payloads(after.messages()), want);
}

TEST_F(MqttPublisherTest, AWrongPasswordIsRefusedAndRetriedTheRightOneAccepted) {
    Broker broker(dir("b"), {.user = "booth4", .password = "right horse"});
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();

    Journal wrong;
    auto s = settings(broker.port(), "booth4");
    s.credentials = lw::mqtt::Credentials{"booth4", "wrong horse"};
    {
        lw::mqtt::Publisher pub(s, wrong.tell());
        ASSERT_TRUE(pub.start().ok);
        // Attempts at 0, 1, 3 and 7 s.
        ASSERT_TRUE(lwtest::waitUntil(
            [&] { return broker.countInLog("disconnected, not authorised.") >= 4; }, 12000))
            << broker.log().toStdString();
        EXPECT_FALSE(pub.stats().connected);
    }
    EXPECT_EQ(wrong.count("not authorised"), 1) << wrong.all();

    // The broker log's timestamps (seconds) show the gaps growing.
    std::vector<long> at;
    const std::regex line(R"((\d+): Client <unknown> disconnected, not authorised\.)");
    const std::string log = broker.log().toStdString();
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        at.push_back(std::stol((*it)[1]));
    }
    ASSERT_GE(at.size(), 4u) << log;
    EXPECT_LE(at[1] - at[0], 2);
    EXPECT_GE(at[3] - at[2], 3);

    Journal right;
    s.credentials->password = "right horse";
    lw::mqtt::Publisher pub(s, right.tell());
    ASSERT_TRUE(pub.start().ok);
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().connected; }, 5000)) << right.all();
    EXPECT_EQ(right.count("connected to the broker"), 1);
}

TEST_F(MqttTlsTest, TlsWithTheBrokersCaAndNotWithAnother) {
    Broker broker(dir("b"), {.tls = true});
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();

    auto s = settings(broker.tlsPort(), "booth5");
    s.cafile = broker.caFile().toStdString();
    Journal journal;
    lw::mqtt::Publisher pub(s, journal.tell());
    ASSERT_TRUE(pub.start().ok);
    pub.record(record(1));
    ASSERT_TRUE(lwtest::waitUntil([&] { return pub.stats().delivered == 1; }, 5000))
        << journal.all();
    const auto online = lwtest::retainedNow(broker, "lwtest/booth5/online", 1);
    ASSERT_EQ(online.size(), 1u);
    EXPECT_EQ(online[0].payload, "1");

    // A broker whose certificate another CA signed is not trusted.
    Broker other(dir("other"), {.tls = true});
    ASSERT_TRUE(other.start()) << other.error().toStdString();
    Journal refused;
    auto t = settings(other.tlsPort(), "booth6");
    t.cafile = broker.caFile().toStdString();
    lw::mqtt::Publisher wrongCa(t, refused.tell());
    ASSERT_TRUE(wrongCa.start().ok);
    ASSERT_TRUE(lwtest::waitUntil([&] { return refused.count("cannot connect") == 1; }, 5000))
        << refused.all();
    EXPECT_NE(refused.all().find("certificate verify failed"), std::string::npos) << refused.all();
    EXPECT_FALSE(wrongCa.stats().connected);

    // A CA file that cannot be read is told at start.
    auto u = s;
    u.cafile = dir("missing.crt").toStdString();
    lw::mqtt::Publisher missing(u);
    const auto r = missing.start();
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("missing.crt"), std::string::npos) << r.error;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
