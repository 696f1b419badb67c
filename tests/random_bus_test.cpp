#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "support/fakes.h"
#include "tools/capturefile.h"

namespace {

bool wellFormed(const std::string& rec) {
    static const std::vector<std::string> heads = {
        "RAW COMM DATA LOG ", "!!!!!!!!!!! PANIC STOP DETECTED ", "***NOISE*** ", "KX-40 #"};
    bool head = false;
    for (const auto& h : heads) head = head || rec.starts_with(h);
    const std::string rule = std::string(lw::kRule) + "\r\n";
    const std::string bangs = std::string(lw::kBangs) + "\r\n";
    return head && (rec.ends_with("\r\n" + rule) || rec.ends_with("\r\n" + bangs)) &&
           rec.find(" PM") != std::string::npos && rec.find("3/1/2002") != std::string::npos;
}

// Arbitrary bytes, biased towards the protocol so that frames, panics and
// every unit state are met, at every length up to a full receive buffer.
TEST(RandomBus, StateStaysBoundedAndRecordsWellFormed) {
    const std::set<std::string> words = {
        "NOT THERE",    "START",       "START INT",   "NO FILM",         "NO FILM INT",
        "FILM IN",      "FILM IN INT", "SHOW ENDING", "SHOW ENDING INT", "SHOW RUN",
        "SHOW RUN INT", "FAIL",        "FAIL INT"};
    const std::set<std::string> texts = {" ",       "STARTING", "SHOW RUN", "CLOSING",
                                         "NO FILM", "READY",    "HELP ME"};
    const std::string protocol = "0123456789:;<=>?ijvwIJVWXqQlLzZnNuUhHmMTPKRFfSspk";
    for (const char* version : {"HUBQV-2", "HUB7"}) {
        lwtest::Rig rig(version);
        std::mt19937 rng(20020301);
        std::uniform_int_distribution<int> byte(0, 255), pick(0, int(protocol.size()) - 1),
            len(0, 1024), kind(0, 9);
        for (int t = 0; t < 3000; ++t) {
            std::string in;
            const int n = (t % 50 > 40) ? 0 : (kind(rng) < 7 ? len(rng) % 64 : len(rng));
            for (int i = 0; i < n; ++i) {
                in += static_cast<char>(kind(rng) < 8 ? protocol[pick(rng)] : byte(rng));
            }
            if (t % 7 == 0) rig.session.blinkTick();
            rig.time.advance(800);
            rig.session.clockTick();
            rig.tick(in);

            const auto& d = rig.session.decoder();
            ASSERT_LE(d.busbuffer.size(), 3u + 1024u);
            ASSERT_LE(d.rawlog.size(), lw::kRawBlockLimit);
            ASSERT_GE(d.quietticks, 0);
            ASSERT_LE(d.quietticks, 19);
            ASSERT_LE(d.remoteticks, 5);
            ASSERT_LE(d.noiseticks, 4);
            for (const auto& s : rig.session.board().slots) {
                ASSERT_TRUE(words.count(s.unitstatus)) << s.unitstatus;
                ASSERT_TRUE(texts.count(s.status)) << s.status;
                ASSERT_GE(s.presence, 0);
                ASSERT_LE(s.presence, 29);
                ASSERT_LT(s.clockminutes, 60);
                ASSERT_LT(s.clockseconds, 60);
            }
            for (const auto& e : rig.sink.entries) ASSERT_TRUE(wellFormed(e.record)) << e.record;
            rig.sink.entries.clear();
        }
        EXPECT_GT(rig.beeper.count(), 0u);
    }
}

}  // namespace

namespace {

// Mangled captures: the parser either takes them whole or names a line of
// the text, and what it takes obeys the format.
TEST(RandomCapture, MangledFilesAreRejectedByLineOrReadConsistently) {
    const std::string base =
        "# sample\r\nLINEWARDEN-CAPTURE 1\nstart 2002-03-01T22:15:07\nversion HUB7\nbaud 1200\n"
        "0 30697A\n400 3169753069\n400 54\n1200 FF00\n";
    const std::string alphabet = "0123456789abcdefABCDEF #\r\n-:Tstartversionbaud";
    std::mt19937 rng(7);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng() % (text.size() + 1);
            switch (rng() % 3) {
                case 0:
                    text.insert(at, 1, alphabet[rng() % alphabet.size()]);
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default:
                    if (at < text.size()) text[at] = static_cast<char>(rng() % 256);
            }
        }
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        auto r = lw::parseCapture(text);
        if (!r.ok) {
            ASSERT_GE(r.line, 1) << text;
            ASSERT_LE(r.line, lines + 1) << text;
            ASSERT_FALSE(r.error.empty());
            continue;
        }
        ++accepted;
        const auto& cap = r.value;
        std::int64_t last = 0;
        for (const auto& c : cap.chunks) {
            ASSERT_GE(c.offset, last);
            ASSERT_FALSE(c.bytes.empty());
            last = c.offset;
        }
    }
    EXPECT_GT(accepted, 100);  // some mangling leaves a valid file
}

}  // namespace
