#include "service/mqttformat.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>

#include "service/serviceoptions.h"

using namespace std::chrono_literals;
using lw::mqtt::RetainedTracker;
using lw::mqtt::RetainedUpdate;

namespace {

std::vector<int> slotsOf(const std::vector<RetainedUpdate>& u) {
    std::vector<int> s;
    for (const auto& x : u) s.push_back(x.slot);
    return s;
}

}  // namespace

TEST(MqttTopics, EveryTopicOfOneBooth) {
    const lw::mqtt::Topics t("chain/linewarden", "booth 3");
    EXPECT_EQ(t.online(), "chain/linewarden/booth 3/online");
    EXPECT_EQ(t.bus(), "chain/linewarden/booth 3/bus");
    EXPECT_EQ(t.record(), "chain/linewarden/booth 3/record");
    EXPECT_EQ(t.unit(1), "chain/linewarden/booth 3/unit/1");
    EXPECT_EQ(t.slot(15), "chain/linewarden/booth 3/unit/16");
    EXPECT_EQ(t.slot(lw::mqtt::kBusSlot), t.bus());
}

TEST(MqttTopics, PrefixesAndSitesThatCannotMakeATopic) {
    struct Case {
        std::string prefix, site;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"linewarden", "booth3", true},
        {"chain/linewarden", "Odeon Leeds", true},
        {"", "booth3", false},
        {"linewarden", "", false},
        {"line+warden", "booth3", false},
        {"linewarden", "booth#3", false},
        {"linewarden", "a/b", false},
        {"/linewarden", "booth3", false},
        {"linewarden/", "booth3", false},
        {"chain//linewarden", "booth3", false},
        {"linewarden", std::string("bo\0th", 5), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lw::mqtt::topicError(c.prefix, c.site).empty(), c.ok)
            << "prefix '" << c.prefix << "' site '" << c.site << "'";
    }
    EXPECT_NE(lw::mqtt::topicError("linewarden", "a/b").find("site"), std::string::npos);
}

TEST(MqttPayloads, BusJson) {
    EXPECT_EQ(lw::mqtt::busJson(true, false, "open"),
              R"({"remote":true,"noise":false,"port":"open"})");
    EXPECT_EQ(lw::mqtt::busJson(false, true, "lost"),
              R"({"remote":false,"noise":true,"port":"lost"})");
}

TEST(MqttSettings, CredentialsFile) {
    auto r = lw::mqtt::parseCredentials("booth3\r\ns3cret pass\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value.user, "booth3");
    EXPECT_EQ(r.value.password, "s3cret pass");

    r = lw::mqtt::parseCredentials("booth3\nno-newline");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value.password, "no-newline");

    r = lw::mqtt::parseCredentials("booth3\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value.password, "");

    r = lw::mqtt::parseCredentials("\nsecret\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.line, 1);
    EXPECT_FALSE(lw::mqtt::parseCredentials("").ok);
}

TEST(MqttRetained, FirstLookPublishesEveryUnitAndTheBus) {
    lw::UnitBoard b;
    RetainedTracker t;
    const auto u = t.update(b, "closed", 0ms);
    ASSERT_EQ(u.size(), 17u);
    EXPECT_EQ(u[0].payload,
              R"({"name":"1","status":" ","clock":" ","panel":"#000000","lamp":"#000000"})");
    EXPECT_EQ(u[16].slot, lw::mqtt::kBusSlot);
    EXPECT_EQ(u[16].payload, R"({"remote":false,"noise":false,"port":"closed"})");
    EXPECT_TRUE(t.update(b, "closed", 800ms).empty());
}

TEST(MqttRetained, AnyFieldButTheClockGoesOutAtOnce) {
    lw::UnitBoard b;
    RetainedTracker t;
    t.update(b, "open", 0ms);

    b.slot(3).status = "SHOW RUN";
    EXPECT_EQ(slotsOf(t.update(b, "open", 800ms)), std::vector<int>{2});
    b.slot(4).panel = lw::colours::red;
    b.slot(5).lamp = lw::colours::green;
    EXPECT_EQ(slotsOf(t.update(b, "open", 1600ms)), (std::vector<int>{3, 4}));
    b.slot(16).name = "Screen 16";
    const auto u = t.update(b, "open", 2400ms);
    ASSERT_EQ(slotsOf(u), std::vector<int>{15});
    EXPECT_NE(u[0].payload.find(R"("name":"Screen 16")"), std::string::npos);

    // A failed unit flashes: its panel changes at every decoder tick and so
    // does its topic.
    b.slot(2).panel = lw::colours::green;
    EXPECT_EQ(slotsOf(t.update(b, "open", 3200ms)), std::vector<int>{1});
    b.slot(2).panel = lw::colours::red;
    EXPECT_EQ(slotsOf(t.update(b, "open", 4000ms)), std::vector<int>{1});
}

TEST(MqttRetained, ARunningClockAtMostEveryTenSeconds) {
    lw::UnitBoard b;
    RetainedTracker t;
    lw::UnitSlot& s = b.slot(1);
    s.status = "SHOW RUN";
    s.clock = "0:00:00";
    s.clockrunning = true;
    t.update(b, "open", 0ms);

    for (int sec = 1; sec < 10; ++sec) {
        s.clock = "0:00:0" + std::to_string(sec);
        EXPECT_TRUE(t.update(b, "open", std::chrono::seconds(sec)).empty()) << sec;
    }
    s.clock = "0:00:10";
    auto u = t.update(b, "open", 10s);
    ASSERT_EQ(slotsOf(u), std::vector<int>{0});
    EXPECT_NE(u[0].payload.find(R"("clock":"0:00:10")"), std::string::npos);

    // A change of state takes the clock with it, and the ten seconds start
    // again from there.
    s.clock = "0:00:13";
    s.lamp = lw::colours::yellow;
    EXPECT_EQ(slotsOf(t.update(b, "open", 13s)), std::vector<int>{0});
    s.clock = "0:00:22";
    EXPECT_TRUE(t.update(b, "open", 22s).empty());
    s.clock = "0:00:23";
    EXPECT_EQ(slotsOf(t.update(b, "open", 23s)), std::vector<int>{0});

    // Time passing with the clock unchanged publishes nothing.
    EXPECT_TRUE(t.update(b, "open", 60s).empty());
}

TEST(MqttRetained, AStoppedClockGoesOutAtOnce) {
    lw::UnitBoard b;
    RetainedTracker t;
    lw::UnitSlot& s = b.slot(7);
    s.clock = "1:02:03";
    s.clockrunning = true;
    t.update(b, "open", 0ms);
    s.clock = "1:02:04";
    s.clockrunning = false;
    EXPECT_EQ(slotsOf(t.update(b, "open", 1s)), std::vector<int>{6});
    s.clock = " ";  // blanked
    EXPECT_EQ(slotsOf(t.update(b, "open", 2s)), std::vector<int>{6});
}

TEST(MqttRetained, TheBusOnChange) {
    lw::UnitBoard b;
    RetainedTracker t;
    t.update(b, "closed", 0ms);
    auto u = t.update(b, "open", 800ms);
    ASSERT_EQ(slotsOf(u), std::vector<int>{lw::mqtt::kBusSlot});
    EXPECT_EQ(u[0].payload, R"({"remote":false,"noise":false,"port":"open"})");
    b.remoteLamp = lw::colours::red;
    b.noiseTextColour = lw::colours::red;
    u = t.update(b, "open", 1600ms);
    ASSERT_EQ(u.size(), 1u);
    EXPECT_EQ(u[0].payload, R"({"remote":true,"noise":true,"port":"open"})");
    EXPECT_TRUE(t.update(b, "open", 2400ms).empty());
    EXPECT_EQ(slotsOf(t.update(b, "lost", 3200ms)), std::vector<int>{lw::mqtt::kBusSlot});
}

TEST(MqttRecordQueue, FullQueueDropsTheOldestAndCounts) {
    lw::mqtt::RecordQueue q(3);
    for (int i = 1; i <= 5; ++i) q.push("r" + std::to_string(i));
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(q.dropped(), 2u);
    EXPECT_EQ(q.pop(), "r3");

    // Taken records that could not be handed over go back in front, in order.
    std::vector<std::string> taken{q.pop()};
    q.push("r6");
    q.putBack(taken);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(q.pop(), "r4");
    EXPECT_EQ(q.pop(), "r5");
    EXPECT_EQ(q.pop(), "r6");
    EXPECT_TRUE(q.empty());

    // With no room, the newer records keep their place.
    q.push("a");
    q.push("b");
    q.push("c");
    taken = {"old"};
    q.putBack(taken);
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(q.pop(), "a");
    EXPECT_EQ(q.dropped(), 3u);

    EXPECT_EQ(lw::mqtt::RecordQueue{}.capacity(), lw::mqtt::kRecordQueueCapacity);
    EXPECT_GE(lw::mqtt::kRecordQueueCapacity, 10'000u);
}

namespace {

lw::Result<lw::service::ServiceOptions> options(std::vector<std::string> args) {
    args.insert(args.begin(), {"--device", "/dev/null"});
    return lw::service::readServiceOptions(args);
}

}  // namespace

TEST(MqttOptions, DefaultsAndValues) {
    auto r = options({"--mqtt", "127.0.0.1:1883"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "127.0.0.1");
    EXPECT_EQ(r.value.mqttPort, 1883);
    EXPECT_EQ(r.value.mqttPrefix, "linewarden");
    EXPECT_EQ(r.value.site, QSysInfo::machineHostName().toStdString());

    r = options({"--mqtt", "broker.chain.example:8883", "--mqtt-prefix", "chain/lw", "--site",
                 "Odeon 3", "--mqtt-credentials", "/etc/linewarden/mqtt", "--mqtt-cafile",
                 "/etc/linewarden/ca.crt"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPort, 8883);
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "Odeon 3");
    EXPECT_EQ(r.value.mqttCredentials, "/etc/linewarden/mqtt");
    EXPECT_EQ(r.value.mqttCafile, "/etc/linewarden/ca.crt");

    r = options({"--mqtt", "[::1]:1884"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "::1");

    // Off unless asked for.
    r = options({});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.value.mqttHost.empty());
}

TEST(MqttOptions, WhatIsRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--mqtt", "broker"},
        {"--mqtt", "broker:"},
        {"--mqtt", "broker:0"},
        {"--mqtt", "broker:70000"},
        {"--mqtt", "::1:1883"},
        {"--mqtt", "bro ker:1883"},
        {"--mqtt-credentials", "/etc/linewarden/mqtt"},
        {"--mqtt", "broker:1883", "--site", "a/b"},
        {"--mqtt", "broker:1883", "--site", "booth#"},
        {"--mqtt", "broker:1883", "--mqtt-prefix", "lw/+"},
        {"--mqtt", "broker:1883", "--mqtt-prefix", "/lw"},
    };
    for (const auto& args : bad) {
        const auto r = options(args);
        EXPECT_FALSE(r.ok) << args.back();
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(MqttOptions, FromTheConfigFileTheLineWins) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString conf = dir.filePath("monitor.conf");
    QFile f(conf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "mqtt=broker.chain.example:1883\nmqtt-prefix=chain/lw\nsite=booth1\n"
        "mqtt-credentials=/etc/linewarden/mqtt\nmqtt-cafile=/etc/linewarden/ca.crt\n");
    f.close();
    const auto r = options({"--config", conf.toStdString(), "--site", "booth2"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value.mqttHost, "broker.chain.example");
    EXPECT_EQ(r.value.mqttPrefix, "chain/lw");
    EXPECT_EQ(r.value.site, "booth2");
    EXPECT_EQ(r.value.mqttCredentials, "/etc/linewarden/mqtt");
    EXPECT_EQ(r.value.mqttCafile, "/etc/linewarden/ca.crt");
}
