// The delivery queue against a simulated clock and receiver, and what each
// channel puts on the wire.
#include <gtest/gtest.h>

#include <functional>

#include "net/notify/deliveryqueue.h"
#include "net/notify/formats.h"

using namespace lw::notify;

namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;

// A clock that jumps from one due time to the next and receivers down until
// their time in `downUntil`; every attempt takes 20 ms.
struct NotifyQueue : ::testing::Test {
    static constexpr std::int64_t kLatency = 20;
    static constexpr std::int64_t kNever = INT64_MAX;
    DeliveryQueue queue{2};
    std::int64_t now = 0;
    std::int64_t downUntil[2] = {0, 0};
    std::vector<std::pair<std::uint64_t, std::int64_t>> tries;  // (id, when)
    std::vector<std::uint64_t> received;

    std::uint64_t offer(std::size_t channel) { return queue.offer(channel, nullptr, now).id; }
    void runUntil(std::int64_t end) {
        while (true) {
            for (const auto& a : queue.due(now)) {
                tries.push_back({a.id, now});
                const bool up = now >= downUntil[a.channel];
                if (up) received.push_back(a.id);
                queue.finished(a.channel, a.id, up, up ? "" : "connection refused", now + kLatency);
            }
            const auto next = queue.nextDueMs();
            if (!next || *next > end) break;
            now = std::max(now + kLatency, *next);
        }
        now = end;
    }
    const Delivery& logged(std::uint64_t id) {
        for (const Delivery& d : queue.log())
            if (d.id == id) return d;
        throw std::runtime_error("not in the log");
    }
    std::vector<QueueEvent::Kind> eventKinds() {
        std::vector<QueueEvent::Kind> kinds;
        for (const auto& e : queue.takeEvents()) kinds.push_back(e.kind);
        return kinds;
    }
};
using Event = QueueEvent::Kind;

}  // namespace

TEST_F(NotifyQueue, ReceiverDownTenMinutesGetsEverythingInOrderWithinAMinuteOfReturning) {
    downUntil[0] = 10 * kMinute;
    std::vector<std::uint64_t> sent;
    for (; now < 3 * kMinute; now += 30 * kSecond) sent.push_back(offer(0));
    runUntil(13 * kMinute);

    EXPECT_EQ(received, sent);
    for (std::uint64_t id : sent) {
        const Delivery& d = logged(id);
        EXPECT_EQ(d.state, DeliveryState::Taken);
        EXPECT_TRUE(d.sentMs >= downUntil[0] && d.sentMs <= downUntil[0] + kMinute) << id;
        EXPECT_EQ(d.error, "");
    }
    // Only the head was tried while down, backing off 5, 10, 20, 40 s, then every 60 s.
    std::vector<std::int64_t> gaps;
    for (std::size_t i = 1; i < 6; ++i) gaps.push_back(tries[i].second - tries[i - 1].second);
    EXPECT_EQ(gaps, (std::vector<std::int64_t>{5020, 10020, 20020, 40020, 60020}));
    for (const auto& [id, at] : tries) EXPECT_TRUE(at >= downUntil[0] || id == sent[0]);
    EXPECT_EQ(eventKinds(), (std::vector{Event::Failing, Event::Recovered}));
    EXPECT_EQ(queue.pending(), 0u);
    EXPECT_FALSE(queue.problem(0));
}

TEST_F(NotifyQueue, AMessageNotTakenWithinAnHourIsGivenUpAndTheNextGoesOn) {
    downUntil[0] = kNever;
    const auto first = offer(0);
    now = 30 * kMinute;
    const auto second = offer(0);
    runUntil(61 * kMinute);
    EXPECT_EQ(logged(first).state, DeliveryState::Failed);
    EXPECT_EQ(logged(first).error, "not taken within 60 min: connection refused");
    EXPECT_FALSE(logged(first).sentMs);
    EXPECT_EQ(logged(second).state, DeliveryState::Pending);
    EXPECT_GT(logged(second).attempts, 0);

    downUntil[0] = 0;
    const auto third = offer(0);
    runUntil(63 * kMinute);
    EXPECT_EQ(received, (std::vector{second, third}));
    EXPECT_EQ(queue.failed(), 1u);
    EXPECT_EQ(eventKinds(), (std::vector{Event::Failing, Event::GaveUp, Event::Recovered}));
}

TEST_F(NotifyQueue, AnAttemptStillRunningAtTheHourEndsItAndFailsIt) {
    const auto id = offer(0);
    ASSERT_EQ(queue.due(60 * kMinute - kSecond).size(), 1u);
    EXPECT_TRUE(queue.due(60 * kMinute + 5 * kSecond).empty()) << "one attempt at a time";
    EXPECT_EQ(logged(id).state, DeliveryState::Pending);
    queue.finished(0, id, false, "timed out", 60 * kMinute + 9 * kSecond);
    EXPECT_EQ(logged(id).state, DeliveryState::Failed);
    EXPECT_EQ(logged(id).attempts, 1);
}

TEST_F(NotifyQueue, AFullQueueRefusesTheNewMessageAndSaysSoOnce) {
    downUntil[0] = kNever;
    for (std::size_t i = 0; i < kMaxQueued; ++i)
        ASSERT_NE(queue.offer(0, nullptr, now).state, DeliveryState::Dropped);
    const auto refused = queue.offer(0, nullptr, now);
    queue.offer(0, nullptr, now);
    EXPECT_EQ(refused.state, DeliveryState::Dropped);
    EXPECT_EQ(refused.error, "queue full");
    EXPECT_EQ(queue.dropped(), 2u);
    EXPECT_EQ(queue.pending(), kMaxQueued);
    EXPECT_EQ(queue.problem(0), "queue full, new messages dropped");
    // The log keeps the latest 200, newest last.
    EXPECT_EQ(queue.log().size(), kLogSize);
    EXPECT_EQ(queue.log().back().id, refused.id + 1);
    EXPECT_EQ(queue.log().front().id, refused.id + 2 - kLogSize);
    // The other channel is not held up.
    const auto other = offer(1);
    runUntil(kSecond);
    EXPECT_EQ(logged(other).state, DeliveryState::Taken);
    EXPECT_EQ(eventKinds(), (std::vector{Event::Dropping, Event::Failing}));
}

TEST(NotifyChannel, OptionTexts) {
    struct Row {
        ChannelKind kind;
        const char* text;
        const char* shown;  // nullptr: refused
    };
    const Row rows[] = {
        {ChannelKind::Webhook, "http://127.0.0.1:8080/hook", "http://127.0.0.1:8080/hook"},
        {ChannelKind::Webhook, "HTTPS://user:pw@hooks.example.org/a/b?token=x#f",
         "https://hooks.example.org/a/b"},
        {ChannelKind::Ntfy, "https://ntfy.sh", "https://ntfy.sh/"},
        {ChannelKind::Ntfy, "http://[::1]:2586/alarms", "http://[::1]:2586/alarms"},
        {ChannelKind::Webhook, "ftp://example.org/x", nullptr},
        {ChannelKind::Webhook, "http:///path", nullptr},
        {ChannelKind::Webhook, "http://host:99999/", nullptr},
        {ChannelKind::Webhook, "http://host/a b", nullptr},
        {ChannelKind::Ntfy, "http://host/x\r\nX-Evil: 1", nullptr},
        {ChannelKind::Ntfy, "example.org/topic", nullptr},
        {ChannelKind::Mail, "ops+alarms@cinema.example", "ops+alarms@cinema.example"},
        {ChannelKind::Mail, "root@localhost", "root@localhost"},
        {ChannelKind::Mail, "a@b.example, c@d.example", nullptr},
        {ChannelKind::Mail, "a@b.example\nBcc: x@y", nullptr},
        {ChannelKind::Mail, "Ops <ops@cinema.example>", nullptr},
        {ChannelKind::Mail, "-oQ/tmp@x", nullptr},
        {ChannelKind::Mail, "a..b@x", nullptr},
    };
    for (const Row& r : rows) {
        const auto parsed = parseChannel(r.kind, r.text);
        EXPECT_EQ(parsed.ok, r.shown != nullptr) << r.text;
        if (parsed.ok) {
            EXPECT_EQ(publicTarget(parsed.value), r.shown);
        }
    }
    EXPECT_EQ(parseChannel(ChannelKind::Mail, "x y").error,
              "not a plain mail address (local@domain): \"x y\"");
}

TEST(NotifyChannel, HeaderTextAndEncodedWords) {
    EXPECT_EQ(headerText("  Projector\r\nfailed\t\x01 at Odeon \x7f"), "Projector failed at Odeon");
    EXPECT_EQ(headerText(std::string(199, 'a') + "\xc3\xa9"), std::string(199, 'a'));
    EXPECT_EQ(encodedWords("Odeon 2 failed", " "), "Odeon 2 failed");
    EXPECT_EQ(encodedWords("Kino Österreich", " "), "=?UTF-8?B?S2lubyDDlnN0ZXJyZWljaA==?=");
    EXPECT_EQ(encodedWords("=?x?=", " "), "=?UTF-8?B?PT94Pz0=?=");
    // 44 ASCII bytes then a two-byte character: the word breaks before it.
    const std::string folded = encodedWords(std::string(44, 'a') + "\xc3\xa9", "\n ");
    EXPECT_EQ(folded.substr(folded.find('\n')), "\n =?UTF-8?B?w6k=?=");
}

namespace {
Message failedProjector() {
    return {"odeon",
            "opened",
            true,
            "Odeon: projector 3 \xe2\x80\x94 FAIL\r\nBcc: x@y",
            "Unit 3 failed at 21:05.\nCause: NO FILM\r\n",
            {"rotating_light", " warn,ing ", ""},
            "http://hub.local:8080/site/odeon",
            "{\"site\":\"odeon\"}"};
}
}  // namespace

TEST(NotifyChannel, NtfyHeaders) {
    std::string all;
    for (const Header& h : ntfyHeaders(failedProjector())) all += h.name + ": " + h.value + "\n";
    EXPECT_EQ(all,
              "Title: =?UTF-8?B?T2Rlb246IHByb2plY3RvciAzIOKAlCBGQUlMIEJjYzogeEB5?=\n"
              "Priority: 5\n"
              "Tags: rotating_light,warning\n"
              "Click: http://hub.local:8080/site/odeon\n");
    Message summary;
    summary.kind = "summary";
    EXPECT_EQ(ntfyPriority(summary), 2);
    EXPECT_EQ(ntfyHeaders(summary).size(), 1u) << "no empty Title, Tags or Click";
}

TEST(NotifyChannel, MailText) {
    Message m = failedProjector();
    m.text += std::string(1000, 'x');
    EXPECT_EQ(mailText(m, "ops@cinema.example"),
              "To: ops@cinema.example\n"
              "Subject: =?UTF-8?B?T2Rlb246IHByb2plY3RvciAzIOKAlCBGQUlMIEJjYzogeEB5?=\n"
              "MIME-Version: 1.0\n"
              "Content-Type: text/plain; charset=utf-8\n"
              "Content-Transfer-Encoding: 8bit\n"
              "Auto-Submitted: auto-generated\n"
              "\n"
              "Unit 3 failed at 21:05.\n"
              "Cause: NO FILM\n" +
                  std::string(998, 'x') + "\nxx\n\nhttp://hub.local:8080/site/odeon\n");
}

TEST_F(NotifyQueue, NotificationsAndStatusJson) {
    const std::vector<Destination> destinations{{ChannelKind::Webhook, "http://u:p@h:81/x?k=1"},
                                         {ChannelKind::Mail, "ops@cinema.example"}};
    auto m = std::make_shared<Message>(failedProjector());
    queue.offer(0, m, 0);
    queue.offer(1, m, 0);
    downUntil[0] = kNever;
    runUntil(2 * kSecond);
    const auto time = [](std::int64_t ms) { return "T" + std::to_string(ms); };
    EXPECT_EQ(deliveriesJson(queue.log(), destinations, time),
              "[{\"id\":1,\"channel\":\"webhook\",\"target\":\"http://h:81/x\",\"site\":\"odeon\","
              "\"kind\":\"opened\",\"title\":\"Odeon: projector 3 \xe2\x80\x94 FAIL Bcc: x@y\","
              "\"queued\":\"T0\",\"sent\":null,\"attempts\":1,\"state\":\"pending\","
              "\"error\":\"connection refused\"},"
              "{\"id\":2,\"channel\":\"mail\",\"target\":\"ops@cinema.example\",\"site\":\"odeon\","
              "\"kind\":\"opened\",\"title\":\"Odeon: projector 3 \xe2\x80\x94 FAIL Bcc: x@y\","
              "\"queued\":\"T0\",\"sent\":\"T20\",\"attempts\":1,\"state\":\"taken\","
              "\"error\":null}]");
    EXPECT_EQ(statusJson(queue, destinations),
              "{\"channels\":2,\"pending\":1,\"failed\":0,\"dropped\":0,"
              "\"problem\":\"notify webhook http://h:81/x: connection refused\"}");
}
