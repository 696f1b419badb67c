// The alarm states, the operator's actions and what the messages say, walked
// through with a hand-made clock: no broker, no sockets.
#include <gtest/gtest.h>

#include "hub/alarms.h"
#include "hub/notices.h"

using namespace lw::hub;

namespace {

// A booth and the hub's clock, moved on by hand.
class AlarmsTest : public ::testing::Test {
protected:
    Site site;
    AlarmBook book;
    NoticePolicy notices{NoticeSettings{1000, 30'000, 15 * 60'000, "http://hub:8080"}};
    std::int64_t t = 1'765'000'000'000;
    std::vector<lw::notify::Message> sent;

    AlarmsTest() {
        site.name = "b1";
        site.live = Site::Live::Online;
    }
    HubTime now() const { return hubTimeAt(t, 3600); }
    void unit(int u, const std::string& state, bool clockRuns = false, const std::string& cause = "") {
        lw::UnitDoc d;
        d.unit = u;
        d.name = "Screen " + std::to_string(u);
        d.state = state;
        d.cause = cause;
        d.clock = "0:41:12";
        if (clockRuns) d.showStarted = now().text;
        book.unitSeen(site.name, d);
        site.units[static_cast<std::size_t>(u - 1)] = d;
    }
    void step(std::int64_t ms = 0) {
        t += ms;
        for (const AlarmChange& c : book.evaluate(site, now())) notices.changed(c, now());
        for (auto& m : notices.due(book, now())) sent.push_back(std::move(m));
    }
    // Moves on a second at a time, as the hub's timer does.
    void run(std::int64_t ms) {
        for (std::int64_t i = 0; i < ms; i += 1000) step(1000);
    }
    std::string state(const std::string& which) const {
        const Alarm* a = book.find("b1", which);
        return a ? std::string(alarmStateName(a->state)) : "none";
    }
    int act(AlarmAction::Kind k, const std::string& which = "", std::int64_t minutes = 0) {
        AlarmAction a{k, "b1", which, minutes ? "lamp change" : "", minutes};
        const auto o = book.act(a, "alice", now());
        for (const AlarmChange& c : o.changes) notices.changed(c, now());
        return o.status;
    }
    std::vector<std::string> kinds() const {
        std::vector<std::string> k;
        for (const auto& m : sent) k.push_back(m.kind);
        return k;
    }
};

using K = AlarmAction::Kind;
using V = std::vector<std::string>;

TEST_F(AlarmsTest, StatesFollowFailureClearAndAcknowledge) {
    unit(3, "running", true);
    step();
    unit(3, "failed", false, "presence");
    step();
    EXPECT_EQ(state("3"), "active_unacknowledged");
    EXPECT_TRUE(book.find("b1", "3")->urgent);  // failed during a show
    unit(3, "ready");
    step();
    EXPECT_EQ(state("3"), "cleared_unacknowledged");  // back to normal, nobody saw it
    EXPECT_EQ(act(K::Acknowledge, "3"), 200);
    EXPECT_EQ(state("3"), "closed");
    unit(3, "failed", false, "motion");
    step();
    EXPECT_EQ(act(K::Acknowledge, "3"), 200);
    EXPECT_EQ(state("3"), "active_acknowledged");
    EXPECT_EQ(book.find("b1", "3")->ackBy, "alice");
    EXPECT_EQ(act(K::Acknowledge, "3"), 409);  // nothing left to acknowledge
    unit(3, "ready");
    step();
    EXPECT_EQ(state("3"), "closed");
}

TEST_F(AlarmsTest, PriorityComesFromTheShow) {
    unit(1, "ready");
    unit(2, "running", true);
    step();
    unit(1, "failed", false, "motion");
    unit(2, "failed", false, "presence");
    unit(4, "failed", false, "presence");  // never seen before: urgent, to be safe
    step();
    EXPECT_FALSE(book.find("b1", "1")->urgent);
    EXPECT_TRUE(book.find("b1", "2")->urgent);
    EXPECT_TRUE(book.find("b1", "4")->urgent);
    // The page's list is bounded and says how many it left out.
    EXPECT_NE(book.listJson(2).find(R"("more":1,)"), std::string::npos);
}

TEST_F(AlarmsTest, BusAndSiteAlarmsWaitTheirTime) {
    site.bus = lw::BusDoc{false, false, "lost", "", ""};
    step();
    run(29'000);
    EXPECT_EQ(state("bus"), "none");
    run(1'000);
    EXPECT_EQ(state("bus"), "active_unacknowledged");
    site.bus->port = "open";
    site.live = Site::Live::Offline;
    site.liveSince = now();
    step();
    EXPECT_EQ(state("bus"), "cleared_unacknowledged");
    run(119'000);
    EXPECT_EQ(state("site"), "none");
    run(1'000);
    EXPECT_EQ(state("site"), "active_unacknowledged");
}

TEST_F(AlarmsTest, ShelvesAndServiceHolds) {
    unit(5, "failed", false, "presence");
    step();
    EXPECT_EQ(act(K::Shelve, "5", 60), 200);
    EXPECT_EQ(act(K::Shelve, "9", 60), 404);
    unit(5, "ready");
    step();
    EXPECT_FALSE(book.find("b1", "5")->shelf);  // back to normal: the shelf is gone
    unit(5, "failed", false, "presence");
    step();
    EXPECT_EQ(act(K::Shelve, "5", 1), 200);
    run(61'000);
    EXPECT_FALSE(book.find("b1", "5")->shelf);  // and it runs out by itself

    EXPECT_EQ(act(K::OutOfService, "", 30), 200);
    EXPECT_EQ(state("5"), "closed");
    unit(6, "failed", false, "motion");
    step();
    EXPECT_EQ(state("6"), "none");  // a booth under maintenance raises nothing
    run(30 * 60'000);
    EXPECT_FALSE(book.sites().at("b1").outOfService);
    EXPECT_EQ(state("6"), "active_unacknowledged");
}

TEST_F(AlarmsTest, TheRetainedDocumentBringsEverythingBack) {
    unit(7, "running", true);
    step();
    unit(7, "failed", false, "presence");
    step(1500);
    act(K::Shelve, "7", 90);
    act(K::OutOfService, "", 10);
    const std::string doc = book.documentJson("b1", "7");
    const std::string siteDoc = book.documentJson("b1", "site");
    AlarmBook restarted;
    ASSERT_TRUE(restarted.takeRetained("b1", "7", doc));
    ASSERT_TRUE(restarted.takeRetained("b1", "site", siteDoc));
    EXPECT_EQ(restarted.documentJson("b1", "7"), doc);
    EXPECT_EQ(restarted.documentJson("b1", "site"), siteDoc);
    // An older document (a hub's echo, a slow peer) changes nothing.
    AlarmBook older;
    older.takeRetained("b1", "7", doc);
    std::string stale = doc;
    stale.replace(stale.find("\"rev\":"), 7, "\"rev\":0");
    EXPECT_TRUE(older.takeRetained("b1", "7", stale));
    EXPECT_EQ(older.documentJson("b1", "7"), doc);
    std::string why;
    EXPECT_FALSE(restarted.takeRetained("b1", "7", R"({"site":"b1"})", &why));
    EXPECT_FALSE(restarted.takeRetained("b1", "17", doc, &why));
    EXPECT_FALSE(restarted.takeRetained("b2", "7", doc, &why));  // another site's document
}

TEST_F(AlarmsTest, OneMessageForWhatOpensTogetherThenRemindersUntilAcknowledged) {
    for (int u = 1; u <= 16; ++u) unit(u, "running", true);
    step();
    for (int u = 1; u <= 16; ++u) unit(u, "failed", false, "presence");
    step();
    EXPECT_TRUE(sent.empty());
    step(1000);
    ASSERT_EQ(kinds(), V{"opened"});
    EXPECT_TRUE(sent[0].urgent);
    EXPECT_EQ(sent[0].title, "b1: 16 alarms");
    EXPECT_NE(sent[0].text.find("unit 16 (Screen 16) failed: presence, 0:41:12 into the show"), std::string::npos);
    EXPECT_EQ(sent[0].click, "http://hub:8080/site/b1");
    run(15 * 60'000);
    EXPECT_EQ(kinds(), (V{"opened", "reminder"}));
    EXPECT_EQ(act(K::Acknowledge, "all"), 200);
    run(40 * 60'000);
    EXPECT_EQ(kinds(), (V{"opened", "reminder"}));  // acknowledged: no more reminders
    for (int u = 1; u <= 16; ++u) unit(u, "ready");
    step(1000);
    step(1000);
    EXPECT_EQ(kinds(), (V{"opened", "reminder", "cleared"}));
}

TEST_F(AlarmsTest, FlappingIsToldOnceAndShelvedSaysNothing) {
    unit(2, "ready");
    step();
    for (int i = 0; i < 6; ++i) {
        unit(2, "failed", false, "motion");
        step(2000);
        unit(2, "ready");
        step(2000);
    }
    run(60'000);
    // The first short failure is told whole; the rest as one flapping message.
    EXPECT_EQ(kinds(), (V{"cleared", "flapping"}));
    EXPECT_EQ(sent[0].title, "b1: cleared: unit 2 (Screen 2) failed: motion, no show running");
    EXPECT_NE(sent[0].text.find(", no show running (at "), std::string::npos);
    EXPECT_NE(sent[0].text.find(", cleared at "), std::string::npos);
    sent.clear();
    unit(9, "failed", false, "presence");
    step();
    act(K::Shelve, "9", 60);
    run(60 * 60'000 - 1000);
    EXPECT_TRUE(sent.empty());
}

TEST_F(AlarmsTest, AnAlarmToldBeforeARestartIsNotToldAgain) {
    unit(4, "failed", false, "presence");
    step();
    step(1000);
    ASSERT_EQ(kinds(), V{"opened"});
    AlarmBook restarted;
    ASSERT_TRUE(restarted.takeRetained("b1", "4", book.documentJson("b1", "4")));
    NoticePolicy fresh{notices.settings()};
    std::vector<lw::notify::Message> again;
    for (int i = 0; i < 5; ++i) {
        t += 1000;
        for (const AlarmChange& c : restarted.evaluate(site, now())) fresh.changed(c, now());
        for (auto& m : fresh.due(restarted, now())) again.push_back(std::move(m));
    }
    EXPECT_TRUE(again.empty());
}

struct ActionRow {
    const char* body;
    const char* why;  // empty: accepted
};

TEST(AlarmActions, AreReadStrictly) {
    const ActionRow rows[] = {
        {R"({"action":"acknowledge","site":"b1","alarm":"3"})", ""},
        {R"({"action":"acknowledge","site":"b1","alarm":"all"})", ""},
        {R"({"action":"shelve","site":"b1","alarm":"bus","reason":"cable","minutes":1440})", ""},
        {R"({"action":"out_of_service","site":"b1","reason":"lamp","minutes":43200})", ""},
        {R"({"action":"forget_site","site":"b1"})", ""},
        {R"({"action":"shelve","site":"b1","alarm":"3","reason":"x","minutes":1441})", "minutes is 1 to 1440 (24 h at most)"},
        {R"({"action":"shelve","site":"b1","alarm":"3","minutes":5})", "a reason is required"},
        {R"({"action":"shelve","site":"b1","alarm":"3","reason":"a\nb","minutes":5})", "the reason is one line of text"},
        {R"({"action":"acknowledge","site":"b1","alarm":"17"})", "alarm is 1 to 16, bus or site"},
        {R"({"action":"shelve","site":"b1","alarm":"all","reason":"x","minutes":5})", "alarm is 1 to 16, bus or site"},
        {R"({"action":"in_service","site":"b1","alarm":"3"})", "this action is for a whole site"},
        {R"({"action":"acknowledge","site":"b1","alarm":"3","reason":"x"})", "this action takes no reason or minutes"},
        {R"({"action":"reboot","site":"b1"})", "no such action"},
        {R"({"action":"acknowledge","alarm":"3"})", "site is required"},
        {R"({"action":"acknowledge","site":"b1","alarm":"3","extra":1})", "unknown member"},
        {R"(["acknowledge"])", "an action is a JSON object"},
    };
    for (const ActionRow& r : rows) {
        std::string why;
        const auto a = readAlarmAction(r.body, &why);
        EXPECT_EQ(a.has_value(), *r.why == '\0') << r.body;
        if (!a) {
            EXPECT_EQ(why, r.why) << r.body;
        }
    }
}

TEST(AlarmTimes, ContractTextReadsBack) {
    for (const std::int64_t ms : {0LL, 1'765'000'000'000LL, 951'868'800'000LL}) {
        for (const int offset : {0, 3600, -5 * 3600 - 1800}) {
            EXPECT_EQ(contractTimeMs(hubTimeAt(ms, offset).text), ms);
            EXPECT_EQ(hubTimeAfter(hubTimeAt(ms, offset), 90'000).text, hubTimeAt(ms + 90'000, offset).text);
        }
    }
    EXPECT_FALSE(contractTimeMs("2026-02-30T10:00:00+01:00"));
}

}  // namespace
