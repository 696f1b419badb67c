// The hub's site table walked through by messages: sites appear and stay,
// offline is not failed and hides old states, junk is counted and bounded,
// worst first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hub/huboptions.h"
#include "hub/sitetable.h"

namespace {

using namespace lw::hub;

const std::string kT = "2026-12-09T23:40:00+01:00";

HubTime at(std::int64_t s) { return {s * 1000, "t" + std::to_string(s)}; }

std::string unitDoc(int n, const std::string& state, bool interlock = false) {
    const bool failed = state == "failed";
    const bool show = state == "running";
    const char* words = failed ? "HELP ME" : show ? "SHOW RUN" : "READY";
    return "{\"unit\":" + std::to_string(n) + ",\"name\":\"U" + std::to_string(n) +
           "\",\"state\":\"" + state + "\",\"interlock\":" + (interlock ? "true" : "false") +
           ",\"cause\":" + (failed ? "\"presence\"" : "null") + ",\"words\":\"" + words +
           "\",\"clock\":\"00:00:01\",\"since\":\"" + kT + "\",\"show_started\":" +
           (show ? "\"" + kT + "\"" : "null") + ",\"at\":\"" + kT + "\"}";
}

std::string busDoc(const std::string& port) {
    return R"({"remote":true,"noise":false,"port":")" + port + R"(","port_since":")" + kT +
           R"(","at":")" + kT + "\"}";
}

struct Fixture : ::testing::Test {
    std::vector<std::string> told;
    SiteTable table{5, [this](const std::string& s) { told.push_back(s); }};
    bool send(const std::string& site, const std::string& level, const std::string& payload,
              std::int64_t s = 0) {
        return table.take("lw", "lw/" + site + "/" + level, payload, at(s)).accepted;
    }
    std::string order() {
        std::string out;
        for (const Site* s : table.ordered()) out += s->name + ":" + std::string(worstName(s->worst())) + " ";
        return out;
    }
};

TEST_F(Fixture, SitesAppearWhenHeardAndAreOrderedWorstFirst) {
    ASSERT_TRUE(send("idle", "online", "1"));
    ASSERT_TRUE(send("run", "online", "1"));
    ASSERT_TRUE(send("run", "unit/2", unitDoc(2, "running", true)));
    ASSERT_TRUE(send("bad", "online", "1"));
    ASSERT_TRUE(send("bad", "unit/9", unitDoc(9, "failed")));
    ASSERT_TRUE(send("bus", "online", "1"));
    ASSERT_TRUE(send("bus", "bus", busDoc("lost")));
    ASSERT_TRUE(send("gone", "online", "0"));
    EXPECT_EQ(order(), "bad:failed bus:bus_lost gone:offline run:running idle:idle ");
    const Counts c = table.counts();
    EXPECT_EQ(c.online, 4u);
    EXPECT_EQ(c.offline, 1u);
    EXPECT_EQ(c.running, 1u);
    EXPECT_EQ(c.failed, 1u);
    EXPECT_EQ(c.busesLost, 1u);
    const std::string tile = siteJson(*table.find("run"), false);
    EXPECT_NE(tile.find("\"marks\":\"-R--------------\""), std::string::npos) << tile;
}

TEST_F(Fixture, OfflineIsNotFailedAndShowsNoOldStates) {
    send("b", "online", "1", 0);
    send("b", "unit/1", unitDoc(1, "failed"), 1);
    EXPECT_EQ(table.find("b")->worst(), Worst::Failed);
    send("b", "online", "0", 5);  // the booth's will
    const Site& s = *table.find("b");
    EXPECT_EQ(s.worst(), Worst::Offline);
    EXPECT_EQ(s.worstSince(), "t5");
    EXPECT_EQ(table.counts().failed, 0u);
    EXPECT_NE(siteJson(s, false).find("\"marks\":null"), std::string::npos);
    send("b", "online", "1", 9);
    EXPECT_EQ(table.find("b")->worst(), Worst::Failed);
}

TEST_F(Fixture, ASiteNeverSayingOnlineIsOfflineAfterTheGrace) {
    send("quiet", "unit/1", unitDoc(1, "running"), 100);
    EXPECT_EQ(table.find("quiet")->live, Site::Live::Unknown);
    EXPECT_EQ(table.find("quiet")->worst(), Worst::Offline);  // not shown as running meanwhile
    EXPECT_EQ(table.tick(at(100 + kOnlineGrace.count() / 1000 - 1)), 0u);
    EXPECT_EQ(table.tick(at(100 + kOnlineGrace.count() / 1000)), 1u);
    EXPECT_EQ(table.find("quiet")->live, Site::Live::Offline);
    EXPECT_EQ(table.find("quiet")->worstSince(), "t100");
}

TEST_F(Fixture, JunkIsCountedDroppedAndBounded) {
    send("ok", "online", "1");
    // Junk for a known site marks it; junk for unknown sites makes none.
    EXPECT_FALSE(send("ok", "bus", "not json"));
    EXPECT_FALSE(send("ok", "unit/3", unitDoc(4, "running")));
    EXPECT_FALSE(send("ok", "bus", std::string(1 << 20, '{')));
    EXPECT_EQ(table.find("ok")->invalid, 3u);
    EXPECT_FALSE(table.find("ok")->lastInvalid.empty());
    for (int i = 0; i < 100000; ++i) send("junk" + std::to_string(i), "bus", "{}");
    EXPECT_FALSE(table.take("lw", "lw/x/unit/99", "{}", at(0)).accepted);
    EXPECT_EQ(table.sites().size(), 1u);
    // Valid messages from invented sites fill the table to its bound, no further.
    for (int i = 0; i < 100000; ++i) send("site" + std::to_string(i), "online", "1");
    EXPECT_EQ(table.sites().size(), 5u);
    EXPECT_EQ(table.stats().refusedNewSites, 100000u - 4u);
    EXPECT_EQ(table.stats().invalid, 3u + 100000u + 1u);
    ASSERT_EQ(told.size(), 1u);  // one journal line
    EXPECT_NE(told[0].find("5 sites"), std::string::npos);
}

TEST_F(Fixture, NamesAreEscapedWherever) {
    send("<img src=x onerror=alert(1)>\"", "online", "1");
    const std::string j = siteJson(*table.ordered().front(), true);
    EXPECT_EQ(j.find('<'), std::string::npos) << j;
    EXPECT_NE(j.find("\\u003cimg src=x onerror=alert(1)\\u003e\\\""), std::string::npos) << j;
}

TEST_F(Fixture, ARepeatedUnitIsNoNews) {
    send("r", "online", "1");
    EXPECT_TRUE(table.take("lw", "lw/r/unit/1", unitDoc(1, "running"), at(1)).news);
    EXPECT_FALSE(table.take("lw", "lw/r/unit/1", unitDoc(1, "running"), at(2)).news);
    EXPECT_TRUE(table.take("lw", "lw/r/unit/1", unitDoc(1, "failed"), at(3)).news);
}

TEST_F(Fixture, TheBoothsBoardHasSixteenUnitsAndTheTimeItWasLastTrue) {
    send("b", "online", "1", 1);
    send("b", "unit/2", unitDoc(2, "running", true), 2);
    const HubTime now = at(7);
    std::string j = siteBoardJson(*table.find("b"), now);
    // Never heard: absent with a blank clock; no bus yet: the port closed.
    EXPECT_EQ(j.substr(0, j.find(",\"units\"")),
              R"({"at":"t7","remote":false,"noise":false,"port":"closed","port_since":null)");
    EXPECT_NE(j.find(R"({"unit":1,"name":"","state":"absent","interlock":false,"cause":null,"words":" ","clock":" ","since":null,"show_started":null})"),
              std::string::npos) << j;
    EXPECT_NE(j.find(R"("unit":16,)"), std::string::npos) << j;
    EXPECT_NE(j.find(R"("state":"running","interlock":true,)"), std::string::npos) << j;
    send("b", "online", "0", 5);
    j = siteBoardJson(*table.find("b"), now);
    EXPECT_EQ(j.rfind(R"({"at":"t5",)", 0), 0u) << j;  // offline: as of the last word heard
}

}  // namespace

// The command line, one row per refusal with its words.
namespace {

TEST(HubOptions, OneLinePerRefusal) {
    struct Row {
        std::vector<std::string> args;
        std::string error;
    };
    const Row rows[] = {
        {{}, "--mqtt HOST:PORT is required"},
        {{"--mqtt", "broker"}, "bad value for --mqtt: broker"},
        {{"--mqtt", "broker:0"}, "bad value for --mqtt: broker:0"},
        {{"--mqtt", "b:1", "--mqtt-prefix", "a/#"}, "bad value for --mqtt-prefix: a/#"},
        {{"--mqtt", "b:1", "--mqtt-prefix", "a/"}, "bad value for --mqtt-prefix: a/"},
        {{"--mqtt", "b:1", "--max-sites", "0"}, "bad value for --max-sites: 0"},
        {{"--mqtt", "b:1", "--keep-days", "-3"}, "bad value for --keep-days: -3"},
        {{"--mqtt", "b:1", "--http"}, "--http needs a value"},
        {{"--mqtt", "b:1", "--frobnicate", "1"}, "unknown argument --frobnicate"},
        {{"--mqtt", "::1:1884"}, "bad value for --mqtt: ::1:1884"},  // IPv6 in brackets
        {{"--mqtt=b:1", "--http=127.0.0.1:99999"}, "bad value for --http: 127.0.0.1:99999"},
        {{"--mqtt", "b:1", "stray"}, "unexpected argument stray"},
        {{"--config", "/nonexistent/hub.conf"}, "cannot read the config file /nonexistent/hub.conf"},
        {{"--mqtt", "b:1", "--summary-at", "24:00"}, "bad value for --summary-at: 24:00"},
        {{"--mqtt", "b:1", "--remind", "0"}, "bad value for --remind: 0"},
        {{"--mqtt", "b:1", "--bus-lost-after", "2d"}, "bad value for --bus-lost-after: 2d"},
        {{"--mqtt", "b:1", "--page-url", "hub:8490"}, "bad value for --page-url: hub:8490"},
        {{"--mqtt", "b:1", "--operator-tokens", "ops"}, "--operator-tokens goes with --http"},
    };
    for (const Row& r : rows) {
        const auto o = readHubOptions(r.args);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, r.error);
    }
    const auto o = readHubOptions({"--mqtt", "[::1]:1884", "--http", "127.0.0.1:0", "--max-sites",
                                   "7", "--db", "h.db"});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value.mqttHost, "::1");
    EXPECT_EQ(o.value.mqttPort, 1884);
    EXPECT_TRUE(o.value.http);
    EXPECT_EQ(o.value.httpPort, 0);
    EXPECT_EQ(o.value.maxSites, 7u);
    EXPECT_EQ(o.value.keepDays, 400);
    EXPECT_TRUE(hubUsage().find("  --max-sites N") != std::string::npos) << hubUsage();
    // Durations read in seconds, minutes or hours; channels may repeat.
    const auto a = readHubOptions({"--mqtt", "b:1", "--remind", "90s", "--offline-after", "3m", "--summary-at",
                                   "07:30", "--notify-ntfy", "https://n.example/t", "--notify-ntfy", "http://127.0.0.1:9/u"});
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.value.remindMs, 90'000);
    EXPECT_EQ(a.value.offlineAfterMs, 180'000);
    EXPECT_EQ(a.value.summaryAt, 7 * 60 + 30);
    EXPECT_EQ(a.value.notifyNtfy.size(), 2u);
    EXPECT_FALSE(readHubOptions({"--mqtt", "b:1", "--notify-mail", "a@b.example,c@d.example"}).ok);

    // The shipped configuration reads, and the line wins over it.
    const auto conf = readHubOptions({"--config", LW_SOURCE_DIR "/packaging/hub.conf", "--keep-days", "9"});
    ASSERT_TRUE(conf.ok) << conf.error;
    EXPECT_EQ(conf.value.db, "/var/lib/linewarden/hub.db");
    EXPECT_EQ(conf.value.httpPort, 8490);
    EXPECT_EQ(conf.value.keepDays, 9);
}

}  // namespace
