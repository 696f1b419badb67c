// What the hub accepts from a broker: the JSON reader, the topic and every
// payload against the contract, one row per case.
#include <gtest/gtest.h>

#include <string>

#include "core/jsonreader.h"
#include "core/payloadcheck.h"

namespace {

using lw::readJson;

struct JsonRow {
    std::string text;
    bool ok;
};

TEST(JsonReader, AcceptsRfc8259AndNothingElse) {
    const JsonRow rows[] = {
        {R"({"a":[1,-2.5e3,true,false,null,"x\u00e9\ud83d\ude00"]})", true},
        {" \t\r\n{}\n", true},
        {"\"caf\xc3\xa9\"", true},
        {"", false},
        {"{", false},
        {"{\"a\":1,}", false},
        {"{\"a\":1,\"a\":2}", false},  // a name twice
        {"[01]", false},
        {"[1.]", false},
        {"[.5]", false},
        {"NaN", false},
        {"\"a\nb\"", false},
        {"\"\\ud800\"", false},         // lone surrogate
        {"\"\xc0\xaf\"", false},        // overlong UTF-8
        {"\"\xed\xa0\x80\"", false},    // an encoded surrogate
        {"\"\xff\"", false},
        {"{} {}", false},
        {"[[[[[[[[1]]]]]]]]", true},    // depth 8
        {"[[[[[[[[[1]]]]]]]]]", false},  // depth 9
        {std::string(lw::kMaxJsonText + 1, ' '), false},
    };
    for (const JsonRow& r : rows) {
        std::string why;
        EXPECT_EQ(readJson(r.text, &why).has_value(), r.ok) << r.text.substr(0, 60) << " " << why;
        if (!r.ok) {
            EXPECT_FALSE(why.empty()) << r.text.substr(0, 60);
        }
    }
}

TEST(JsonReader, QuotingReadsBack) {
    const std::string samples[] = {"plain", "<script>\"&'\\", std::string("nul\0x", 5),
                                   "\xc3\xa9\xf0\x9f\x98\x80", "\x7f\x01"};
    for (const std::string& s : samples) {
        const std::string q = lw::jsonQuote(s);
        EXPECT_EQ(q.find('<'), std::string::npos);
        const auto v = readJson(q);
        ASSERT_TRUE(v) << q;
        EXPECT_EQ(v->text, s);
    }
    EXPECT_EQ(lw::jsonQuote("a\xff" "b"), "\"a\\ufffdb\"");  // not UTF-8: replaced
}

struct TopicRow {
    std::string topic;
    bool ok;
    lw::SiteTopicKind kind = lw::SiteTopicKind::Online;
    int unit = 0;
};

TEST(SiteTopic, OnlyTheContractsTopicsUnderThePrefix) {
    using K = lw::SiteTopicKind;
    const TopicRow rows[] = {
        {"chain/lw/booth1/online", true, K::Online},
        {"chain/lw/booth1/bus", true, K::Bus},
        {"chain/lw/booth1/event", true, K::Event},
        {"chain/lw/booth1/record", true, K::Record},
        {"chain/lw/booth1/unit/1", true, K::Unit, 1},
        {"chain/lw/booth1/unit/16", true, K::Unit, 16},
        {"chain/lw/booth1/unit/17", false},
        {"chain/lw/booth1/unit/0", false},
        {"chain/lw/booth1/unit/01", false},
        {"chain/lw/booth1/alarm/16", true, K::Alarm},
        {"chain/lw/booth1/alarm/site", true, K::Alarm},
        {"chain/lw/booth1/alarm/17", false},
        {"chain/lw/booth1/alarm/all", false},
        {"chain/lw/booth1/unit/", false},
        {"chain/lw/booth1/other", false},
        {"chain/lw/booth1", false},
        {"chain/lw//online", false},
        {"chain/lwx/booth1/online", false},
        {"other/booth1/online", false},
        {"chain/lw/" + std::string(lw::kMaxSiteName + 1, 's') + "/online", false},
        {"chain/lw/a\x01" "b/online", false},
    };
    for (const TopicRow& r : rows) {
        const auto t = lw::readSiteTopic("chain/lw", r.topic);
        ASSERT_EQ(t.has_value(), r.ok) << r.topic;
        if (!t) continue;
        EXPECT_EQ(t->site, "booth1");
        EXPECT_EQ(t->kind, r.kind) << r.topic;
        EXPECT_EQ(t->unit, r.unit) << r.topic;
    }
}

const std::string kT = "2026-12-09T23:40:00+01:00";

std::string unit(const std::string& fields) {
    return "{\"unit\":3,\"name\":\"Three\",\"interlock\":false,\"words\":\"SHOW RUN\","
           "\"clock\":\"01:02:03\",\"since\":\"" + kT + "\",\"at\":\"" + kT + "\"," + fields + "}";
}

struct PayloadRow {
    lw::SiteTopicKind kind;
    std::string payload;
    std::string why;  // empty: accepted; else a part of why not
};

TEST(SitePayload, CheckedAgainstTheContract) {
    using K = lw::SiteTopicKind;
    const std::string running = R"("state":"running","cause":null,"show_started":")" + kT + "\"";
    const std::string bus = R"({"remote":true,"noise":false,"port":"open","port_since":")" + kT +
                            R"(","at":")" + kT + "\"}";
    const std::string failedEvent = R"({"kind":"failed","unit":3,"name":"Three","interlock":true,"cause":"motion","clock":"00:10:00","at":")" + kT + R"(","seq":4})";
    const std::string busEvent = R"({"kind":"bus_lost","unit":null,"name":null,"interlock":false,"cause":null,"clock":null,"at":")" + kT + R"(","seq":5})";
    const PayloadRow rows[] = {
        {K::Online, "1", ""},
        {K::Online, "0", ""},
        {K::Online, "true", "neither"},
        {K::Record, "12/09/26 23:40:00  Unit 3 SHOW RUN\r\n", ""},
        {K::Record, std::string("a\0b", 3), "NUL"},
        {K::Record, std::string(lw::kMaxRecordText + 1, 'x'), "too long"},
        {K::Unit, unit(running), ""},
        {K::Unit, unit(R"("state":"failed","cause":"motion","show_started":null)"), "words"},
        {K::Unit, unit(R"("state":"running","cause":"motion","show_started":null)"), "cause"},
        {K::Unit, unit(R"("state":"ready","cause":null,"show_started":")" + kT + "\""), "show_started"},
        {K::Unit, unit(R"("state":"flying","cause":null,"show_started":null)"), "unknown state"},
        {K::Unit, unit(running + R"(,"extra":1)"), "unexpected field"},
        {K::Unit, unit(R"("state":"running","cause":null)"), "\"show_started\" missing"},
        {K::Unit, unit(R"("state":"running","cause":null,"show_started":"yesterday")"), "not a time"},
        {K::Unit, unit(running).replace(8, 1, "4"), "differs from its topic"},
        {K::Unit, unit(running).replace(8, 1, "3.5"), "out of range"},
        {K::Unit, unit(running).replace(unit(running).find("01:02:03"), 8, "1:2:3"), "clock"},
        {K::Unit, "[]", "not a JSON object"},
        {K::Unit, "{\"unit\":3", "not JSON"},
        {K::Unit, std::string(lw::kMaxPayload + 1, ' '), "too big"},
        {K::Bus, bus, ""},
        {K::Bus, R"({"remote":1,"noise":false,"port":"open","port_since":")" + kT + R"(","at":")" + kT + "\"}", "wrong type"},
        {K::Bus, R"({"remote":true,"noise":false,"port":"gone","port_since":")" + kT + R"(","at":")" + kT + "\"}", "port"},
        {K::Event, failedEvent, ""},
        {K::Event, busEvent, ""},
        {K::Event, std::string(failedEvent).replace(failedEvent.find("\"motion\""), 8, "null"), "cause"},
        {K::Event, std::string(busEvent).replace(busEvent.find("\"unit\":null"), 11, "\"unit\":2"), "unit fields"},
        {K::Event, std::string(busEvent).replace(busEvent.find("\"seq\":5"), 7, "\"seq\":0"), "seq"},
    };
    for (const PayloadRow& r : rows) {
        lw::SiteTopic topic{"booth1", r.kind, r.kind == K::Unit ? 3 : 0, ""};
        std::string why;
        const auto p = lw::readSitePayload(topic, r.payload, &why);
        EXPECT_EQ(p.has_value(), r.why.empty()) << r.payload.substr(0, 200) << " -> " << why;
        if (!r.why.empty()) {
            EXPECT_NE(why.find(r.why), std::string::npos) << why;
        }
    }
}

}  // namespace
