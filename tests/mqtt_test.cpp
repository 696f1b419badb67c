// The MQTT pieces that need no broker: topics, credentials, the record queue,
// the reconnect policy, and the retained payloads against a golden file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "core/timetext.h"
#include "net/mqtt/credentials.h"
#include "service/mqtt/outbox.h"
#include "net/mqtt/reconnectpolicy.h"
#include "service/mqtt/topics.h"
#include "support/files.h"

using namespace std::chrono_literals;
using lw::mqtt::LinkEvent;
using lw::mqtt::LinkState;
using Say = lw::mqtt::LinkStep::Say;

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
        std::string prefix, site, says;  // says: empty when fine
    };
    const std::vector<Case> cases = {
        {"linewarden", "booth3", ""},
        {"chain/linewarden", "Odeon Leeds", ""},
        {"", "booth3", "the MQTT prefix is empty"},
        {"linewarden", "", "the site name is empty"},
        {"line+warden", "booth3", "wildcard '+'"},
        {"linewarden", "booth#3", "wildcard '#'"},
        {"linewarden", "a/b", "the site name holds '/'"},
        {"/linewarden", "booth3", "empty level"},
        {"linewarden/", "booth3", "empty level"},
        {"chain//linewarden", "booth3", "empty level"},
        {"linewarden", std::string("bo\0th", 5), "NUL"},
    };
    for (const auto& c : cases) {
        const std::string why = lw::mqtt::topicError(c.prefix, c.site);
        EXPECT_EQ(why.empty(), c.says.empty()) << c.prefix << " " << c.site;
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
}

TEST(MqttCredentials, UserOnTheFirstLinePasswordOnTheSecond) {
    struct Case {
        std::string text, user, password;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"booth3\r\ns3cret pass\r\n", "booth3", "s3cret pass", true},
        {"booth3\nno-newline", "booth3", "no-newline", true},
        {"booth3\n", "booth3", "", true},
        {"\nsecret\n", "", "", false},
        {"", "", "", false},
    };
    for (const auto& c : cases) {
        const auto r = lw::mqtt::parseCredentials(c.text);
        EXPECT_EQ(r.ok, c.ok) << c.text;
        EXPECT_EQ(r.value.user, c.user);
        EXPECT_EQ(r.value.password, c.password);
        EXPECT_EQ(r.line, c.ok ? 0 : 1);
    }
    const auto missing = lw::mqtt::readCredentials("/nonexistent/mqtt.cred");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "/nonexistent/mqtt.cred: cannot read the file");
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

// Other retained topics (discovery configs): out once per new payload, all
// again on a resend, ahead of the board's slots.
TEST(MqttOutbox, OtherRetainedTopicsOnlyWhenNewOrResent) {
    lw::mqtt::Outbox box(10);
    box.putRetainedTopic("ha/a/config", "{1}");
    box.putRetained({{0, "{u1}"}});
    EXPECT_EQ(box.take(true, 0).topics.size(), 1u);
    EXPECT_FALSE(box.putRetainedTopic("ha/a/config", "{1}"));  // the same: no turn, nothing
    box.putRetainedTopic("ha/b/config", "{2}");
    EXPECT_EQ(box.take(true, 0).topics.size(), 1u);
    box.resendRetained();
    const auto b = box.take(true, 0);
    EXPECT_EQ(b.topics.size(), 2u);
    EXPECT_EQ(b.retained.size(), 1u);
}

// One policy walked through a day of a broker coming and going; each row is
// an event, when it happens, and what the link must do then.
TEST(MqttReconnectPolicy, BackOffAndWhatIsTold) {
    struct Row {
        LinkEvent event;
        std::chrono::milliseconds at;
        std::string why;
        bool applies;
        LinkState state;
        std::chrono::milliseconds timer;
        Say say;
    };
    using S = LinkState;
    using E = LinkEvent;
    const std::vector<Row> rows = {
        {E::Accepted, 0s, "", false, S::Idle, 0ms, Say::Nothing},
        {E::Open, 0s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Open, 0s, "", false, S::Connecting, 0ms, Say::Nothing},
        // A broker away: told once for the streak, the gaps doubling to 30 s.
        {E::Failed, 0s, "refused", true, S::Waiting, 1s, Say::Unreachable},
        {E::TimerDue, 1s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 1s, "refused", true, S::Waiting, 2s, Say::Nothing},
        {E::Failed, 1s, "refused", false, S::Waiting, 0ms, Say::Nothing},
        {E::TimerDue, 3s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 3s, "refused", true, S::Waiting, 4s, Say::Nothing},
        {E::TimerDue, 7s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 7s, "refused", true, S::Waiting, 8s, Say::Nothing},
        {E::TimerDue, 15s, "", true, S::Connecting, 15s, Say::Nothing},
        // A new cause is told; a connect that hangs times out.
        {E::TimerDue, 30s, "no answer", true, S::Waiting, 16s, Say::Unreachable},
        {E::TimerDue, 46s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 46s, "no answer", true, S::Waiting, 30s, Say::Nothing},
        {E::TimerDue, 76s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 76s, "no answer", true, S::Waiting, 30s, Say::Nothing},
        {E::TimerDue, 106s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Accepted, 106s, "", true, S::Connected, 15s, Say::Connected},
        {E::TimerDue, 121s, "", true, S::Connected, 15s, Say::Nothing},  // keepalive check
        // Lost after a steady connection: told, and the back-off starts over.
        {E::Failed, 130s, "reset", true, S::Waiting, 1s, Say::Lost},
        {E::TimerDue, 131s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Failed, 131s, "reset", true, S::Waiting, 2s, Say::Unreachable},
        {E::TimerDue, 133s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Accepted, 133s, "", true, S::Connected, 15s, Say::Connected},
        // Lost again within seconds: the back-off goes on growing.
        {E::Failed, 135s, "reset", true, S::Waiting, 4s, Say::Lost},
        {E::TimerDue, 139s, "", true, S::Connecting, 15s, Say::Nothing},
        {E::Accepted, 139s, "", true, S::Connected, 15s, Say::Connected},
        // A clean close waits a second for the broker to close on it.
        {E::Close, 150s, "", true, S::Closing, 1s, Say::Nothing},
        {E::Failed, 150s, "closed", true, S::Closed, 0ms, Say::Nothing},
        {E::Open, 151s, "", false, S::Closed, 0ms, Say::Nothing},
    };
    lw::mqtt::ReconnectPolicy policy;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const auto step = policy.on(r.event, r.at, r.why);
        ASSERT_EQ(step.has_value(), r.applies) << "row " << i;
        EXPECT_EQ(policy.state(), r.state) << "row " << i;
        if (!step) continue;
        EXPECT_EQ(step->state, r.state) << "row " << i;
        EXPECT_EQ(step->timer, r.timer) << "row " << i;
        EXPECT_EQ(step->say, r.say) << "row " << i;
    }
}

TEST(MqttReconnectPolicy, ClosingFromEveryState) {
    using S = LinkState;
    using E = LinkEvent;
    const std::map<S, std::vector<E>> to = {
        {S::Idle, {}},
        {S::Connecting, {E::Open}},
        {S::Waiting, {E::Open, E::Failed}},
        {S::Connected, {E::Open, E::Accepted}},
    };
    for (const auto& [state, path] : to) {
        lw::mqtt::ReconnectPolicy p;
        for (E e : path) p.on(e, 0ms, "x");
        ASSERT_EQ(p.state(), state);
        const auto step = p.on(E::Close, 0ms);
        ASSERT_TRUE(step);
        EXPECT_EQ(step->state, state == S::Connected ? S::Closing : S::Closed);
    }
    lw::mqtt::ReconnectPolicy p;
    for (E e : {E::Open, E::Accepted, E::Close}) p.on(e, 0ms);
    EXPECT_FALSE(p.on(E::Accepted, 0ms));
    EXPECT_EQ(p.on(E::TimerDue, 1s)->state, S::Closed);  // the broker never closed on us
}

namespace {

// Runs a steps file over a board view and returns what each look publishes.
std::string lookAt(const std::string& steps) {
    const lw::ZonedTime start{{2026, 12, 9, 20, 0, 0, 0}, 60};
    lw::BoardView view;
    view.at = view.bus.portSince = start;
    for (int n = 1; n <= lw::kSlots; ++n) {
        lw::UnitView& u = view.units[static_cast<std::size_t>(n - 1)];
        u.unit = n;
        u.name = std::to_string(n);
        u.words = u.clock = " ";
        u.since = start;
    }
    lw::mqtt::RetainedSlots slots;
    const lw::mqtt::Topics topics("linewarden", "booth1");
    std::istringstream in(steps);
    std::string line, out;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        long at = 0;
        std::string what, arg;
        words >> at >> what >> std::ws;
        std::getline(words, arg);
        const lw::ZonedTime now = lw::addZonedMilliseconds(start, at);
        view.at = now;
        if (what == "look") {
            const lw::PortState port = arg == "open"   ? lw::PortState::Open
                                       : arg == "lost" ? lw::PortState::Lost
                                                       : lw::PortState::Closed;
            if (port != view.bus.port) view.bus.portSince = now;
            view.bus.port = port;
            for (const auto& u : slots.changes(view)) {
                out += std::to_string(at) + " " + topics.slot(u.slot) + " " + u.payload + "\n";
            }
        } else if (what == "remote") {
            view.bus.remote = arg == "on";
        } else if (what == "noise") {
            view.bus.noise = arg == "on";
        } else if (what == "unit") {
            std::istringstream a(arg);
            int n = 0;
            std::string field, value;
            a >> n >> field >> std::ws;
            std::getline(a, value);
            lw::UnitView& u = view.units.at(static_cast<std::size_t>(n - 1));
            static const std::map<std::string, lw::UnitState> states = {
                {"starting", lw::UnitState::Starting},
                {"running", lw::UnitState::Running},
                {"failed", lw::UnitState::Failed}};
            static const std::map<std::string, std::string_view> causes = {{"presence", "presence"},
                                                                           {"motion", "motion"}};
            if (field == "name") u.name = value;
            if (field == "state") {
                u.state = states.at(value);
                u.since = now;
            }
            if (field == "interlock") u.interlock = value == "yes";
            if (field == "cause") u.cause = causes.at(value);
            if (field == "words") u.words = value;
            if (field == "clock") u.clock = value == "blank" ? " " : value;
            if (field == "show") u.showStarted = value == "yes" ? std::optional(now) : std::nullopt;
        } else {
            ADD_FAILURE() << "unknown step: " << line;
        }
    }
    return out;
}

}  // namespace

// LW_UPDATE_GOLDEN=1 writes the expected file anew, for a deliberate change.
TEST(MqttPayloads, RetainedTopicsAsTheBoardChanges) {
    const std::string dir = LW_SOURCE_DIR "/tests/data/mqtt/";
    const std::string got = lookAt(lwtest::readFile(dir + "board.steps"));
    if (std::getenv("LW_UPDATE_GOLDEN"))
        std::ofstream(dir + "board.expected", std::ios::binary) << got;
    EXPECT_EQ(got, lwtest::readFile(dir + "board.expected"));
}
