#include <gtest/gtest.h>

#include "support/fakes.h"

using lwtest::Rig;

namespace {

struct DecodeCase {
    const char* input;
    int slot;
    const char* status;
    const char* cause;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.input << " slot " << c.slot; }

class DecodeFrames : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeFrames, RightmostFrameOfEachSlotWins) {
    const DecodeCase& c = GetParam();
    Rig rig;
    rig.tick(c.input);
    EXPECT_EQ(rig.slot(c.slot).unitstatus, c.status) << "input " << c.input;
    EXPECT_EQ(rig.slot(c.slot).failcause, c.cause) << "input " << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Bus, DecodeFrames,
    ::testing::Values(
        DecodeCase{"0iq", 1, "START", ""}, DecodeCase{"0iu0jh", 1, "FAIL", " PRESENCE "},
        DecodeCase{"0jh0iu", 1, "SHOW RUN", ""}, DecodeCase{"0Xq", 1, "START", ""},
        DecodeCase{"0xq", 1, "NOT THERE", ""}, DecodeCase{"?iU", 16, "SHOW RUN INT", ""},
        DecodeCase{"@iU", 16, "NOT THERE", ""}, DecodeCase{"0iQ5wm", 1, "START INT", ""},
        DecodeCase{"0iQ5wm", 6, "FAIL", " MOTION "},
        DecodeCase{":WH", 11, "FAIL INT", " PRESENCE "},
        DecodeCase{";VM", 12, "FAIL INT", " MOTION "}, DecodeCase{"<Il=JL>jN", 13, "NO FILM", ""},
        DecodeCase{"<Il=JL>jN", 14, "NO FILM INT", ""},
        DecodeCase{"<Il=JL>jN", 15, "SHOW ENDING INT", ""}, DecodeCase{"9vz8wZ", 10, "FILM IN", ""},
        DecodeCase{"9vz8wZ", 9, "FILM IN INT", ""}, DecodeCase{"7in", 8, "SHOW ENDING", ""},
        DecodeCase{"0iQ0ia", 1, "START INT", ""},  // "0ia" is no frame
        DecodeCase{"00iq", 1, "START", ""},        // frame starts mid-run
        DecodeCase{"0i0iz", 1, "FILM IN", ""}));

TEST(Decoder, LoadTickShowsEverySlotAbsent) {
    Rig rig;
    const auto& b = rig.session.board();
    EXPECT_EQ(rig.session.decoder().busbuffer, "sss");
    EXPECT_EQ(rig.session.decoder().quietticks, 19);
    EXPECT_EQ(b.remoteLamp, lw::colours::windowText);
    EXPECT_EQ(b.remoteTextColour, lw::colours::windowText);
    EXPECT_EQ(b.noiseTextColour, lw::colours::black);
    EXPECT_EQ(b.noiseLamp, lw::colours::black);
    for (const auto& s : b.slots) {
        EXPECT_EQ(s.status, " ");
        EXPECT_EQ(s.clock, " ");
        EXPECT_EQ(s.panel, lw::colours::black);
        EXPECT_EQ(s.lamp, lw::colours::black);
        EXPECT_EQ(s.unitstatus, "NOT THERE");
    }
    EXPECT_TRUE(rig.sink.entries.empty());
}

TEST(Decoder, FrameSplitAcrossReadsIsDecodedInTheSecondTick) {
    Rig rig;
    rig.tick("0i");
    EXPECT_EQ(rig.slot(1).unitstatus, "NOT THERE");
    rig.tick("q");
    EXPECT_EQ(rig.slot(1).unitstatus, "START");
    // Also when the buffer was long: the cut keeps the last three characters.
    Rig rig2;
    rig2.tick("ssssssss5j");
    rig2.tick("u");
    EXPECT_EQ(rig2.slot(6).unitstatus, "SHOW RUN");
}

TEST(Decoder, CarriedFrameKeepsPresenceUntilSilenceEmptiesTheBuffer) {
    Rig rig;
    rig.tick("0iq");  // buffer "sss0iq"
    for (int i = 0; i < 20; ++i) {
        rig.tick();
        ASSERT_EQ(rig.session.decoder().busbuffer, "0iq") << "silent tick " << i + 1;
        ASSERT_EQ(rig.slot(1).presence, 29);
    }
    rig.tick();
    EXPECT_EQ(rig.session.decoder().busbuffer, "");
    EXPECT_EQ(rig.session.decoder().quietticks, 12);
    EXPECT_EQ(rig.slot(1).presence, 28);
}

TEST(Decoder, SilentUnitFallsBackToNotThereAfterThirtyTicks) {
    Rig rig;
    rig.tick("0iussss");  // long enough that the next tick cuts the frame away
    ASSERT_EQ(rig.slot(1).status, "SHOW RUN");
    rig.ticks(29);
    EXPECT_EQ(rig.slot(1).unitstatus, "SHOW RUN");
    EXPECT_TRUE(rig.slot(1).clockrunning);
    rig.tick();  // 30th tick after the last frame
    EXPECT_EQ(rig.slot(1).unitstatus, "NOT THERE");
    EXPECT_FALSE(rig.slot(1).clockrunning);
    EXPECT_EQ(rig.slot(1).status, "SHOW RUN");  // shown from the next tick on
    rig.tick();
    EXPECT_EQ(rig.slot(1).status, " ");
    EXPECT_EQ(rig.slot(1).clock, " ");
}

TEST(Decoder, ClosedPortTicksOnWithEmptyInput) {
    Rig rig;
    rig.tick("0iussss");
    rig.port.open = false;
    rig.port.pending.push_back("1iu");  // never read
    for (int i = 0; i < 31; ++i) rig.session.decoderTick();
    EXPECT_EQ(rig.slot(1).status, " ");
    EXPECT_EQ(rig.slot(2).unitstatus, "NOT THERE");
    EXPECT_EQ(rig.port.pending.size(), 1u);
}

TEST(Decoder, MasterRemoteLampLitForSixTicks) {
    Rig rig;
    rig.tick("Tsssss");
    int lit = 1;
    EXPECT_EQ(rig.session.board().remoteTextColour, lw::colours::highlight);
    for (int i = 0; i < 10; ++i) {
        rig.tick();
        if (rig.session.board().remoteLit()) ++lit;
    }
    EXPECT_EQ(lit, 6);
    EXPECT_EQ(rig.session.board().remoteLamp, lw::colours::windowText);
    // A T kept among the carried characters lights it again.
    rig.tick("ssssT");
    rig.ticks(7);
    EXPECT_TRUE(rig.session.board().remoteLit());
}

TEST(Decoder, NoiseLampTimingAndRecords) {
    Rig rig;
    rig.tick("xsssss");
    EXPECT_TRUE(rig.session.board().noiseLit());
    EXPECT_EQ(rig.session.board().noiseLamp, lw::colours::yellow);
    EXPECT_TRUE(rig.sink.entries.empty()) << "first noise tick writes no record";

    rig.tick();
    rig.tick("ab\x01sss");  // three noise characters while lit: three records
    ASSERT_EQ(rig.sink.entries.size(), 3u);
    for (const auto& r : rig.records()) {
        EXPECT_EQ(r.substr(0, 12), "***NOISE*** ");
        EXPECT_NE(r.find("\r\nsssab\x01sss\r\n"), std::string::npos);
    }
    // Noise while lit does not prolong the lamp: dark after five ticks.
    rig.tick();
    rig.tick();
    EXPECT_TRUE(rig.session.board().noiseLit());
    rig.tick();
    EXPECT_FALSE(rig.session.board().noiseLit());
    EXPECT_EQ(rig.session.board().noiseLamp, lw::colours::black);
}

TEST(Decoder, PanicRulesDependOnTheVersion) {
    auto panics = [](const std::string& version, const std::string& input) {
        Rig rig(version);
        rig.tick(input + "ssssss");
        int n = 0;
        for (const auto& r : rig.records()) n += r.starts_with("!!!!!!!!!!! PANIC STOP DETECTED ");
        return n;
    };
    EXPECT_EQ(panics("HUBQV-2", "pk"), 1);
    EXPECT_EQ(panics("HUBQV-2", "pKPkPK"), 1);  // one per tick by the pair rule
    EXPECT_EQ(panics("HUBQV-2", "P"), 0);
    EXPECT_EQ(panics("KX40QV-2", "P"), 0);
    EXPECT_EQ(panics("HUB7", "P"), 1);
    EXPECT_EQ(panics("KX40JV-10", "PxP"), 2);
    EXPECT_EQ(panics("KX40JV-10", "PK"), 2);  // pair plus the single P
    EXPECT_EQ(panics("hub7", "P"), 0);        // version compared with case
    EXPECT_EQ(panics("HUB7", "p"), 0);
}

TEST(Decoder, CarriedPanicCharacterIsReportedAgain) {
    Rig rig("HUB7");
    rig.tick("ssssP");
    rig.tick();
    EXPECT_EQ(rig.sink.entries.size(), 2u);
}

TEST(Decoder, RawBlockWhenCollectorPassesNineHundred) {
    Rig rig;
    rig.tick(std::string(900, 's'));
    EXPECT_TRUE(rig.sink.entries.empty());
    EXPECT_EQ(rig.session.decoder().rawlog.size(), 900u);
    rig.tick("sK");
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    const std::string& rec = rig.sink.entries[0].record;
    EXPECT_TRUE(rec.starts_with("RAW COMM DATA LOG 10:15:07 PM   3/1/2002\r\n"));
    EXPECT_NE(rec.find("\r\n" + std::string(900, 's') + "sK\r\n"), std::string::npos);
    EXPECT_TRUE(rig.session.decoder().rawlog.empty());
    EXPECT_EQ(rig.raw, std::string(900, 's') + "sK");

    // With raw logging off the collected characters are lost to the log.
    rig.options.rawdata = 0;
    rig.tick(std::string(901, 's'));
    EXPECT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_TRUE(rig.session.decoder().rawlog.empty());
}

TEST(Decoder, RecordsOfOneTickComeInTheirOrder) {
    Rig rig("HUB7");
    rig.tick("x" + std::string(899, 's'));  // lights the noise lamp, fills the collector
    ASSERT_TRUE(rig.sink.entries.empty());
    rig.tick("1iq0iqPKx");
    const auto r = rig.records();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_TRUE(r[0].starts_with("RAW COMM DATA LOG "));
    EXPECT_TRUE(r[1].starts_with("!!!!!!!!!!! PANIC"));
    EXPECT_TRUE(r[2].starts_with("KX-40 #1 HAS BEEN STARTED "));
    EXPECT_TRUE(r[3].starts_with("KX-40 #2 HAS BEEN STARTED "));
    EXPECT_TRUE(r[4].starts_with("!!!!!!!!!!! PANIC"));
    EXPECT_TRUE(r[5].starts_with("***NOISE*** "));
    EXPECT_NE(r[5].find("\r\nsss1iq0iqPKx\r\n"), std::string::npos);
}

TEST(Decoder, ActivityOffStillChangesTheBoard) {
    Rig rig;
    rig.options.unitactivity = 0;
    rig.options.busnoise = 0;  // lower-case p and k are noise
    rig.tick("0iqpk");
    EXPECT_EQ(rig.slot(1).status, "STARTING");
    EXPECT_TRUE(rig.sink.entries.empty());
    rig.options.unitactivity = 2;  // greyed counts as off
    rig.tick("1iq");
    EXPECT_TRUE(rig.sink.entries.empty());
}

TEST(Decoder, KnownCharactersAreExactlyTheProtocolSet) {
    int known = 0;
    for (int c = 0; c < 256; ++c) known += lw::isKnownBusChar(static_cast<unsigned char>(c));
    EXPECT_EQ(known, 47);
    EXPECT_FALSE(lw::isKnownBusChar('@'));
    EXPECT_FALSE(lw::isKnownBusChar('x'));
    EXPECT_FALSE(lw::isKnownBusChar('k'));
    EXPECT_TRUE(lw::isKnownBusChar('?'));
    EXPECT_TRUE(lw::isKnownBusChar('f'));
}

}  // namespace
