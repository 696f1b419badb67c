#include "core/payloadcheck.h"

#include <array>
#include <initializer_list>

#include "core/jsonreader.h"

namespace lw {

namespace {

constexpr std::array kStates = {"absent", "starting", "running", "closing",
                                "no_film", "ready", "failed"};
constexpr std::array kWords = {" ", "STARTING", "SHOW RUN", "CLOSING", "NO FILM", "READY",
                               "HELP ME"};
constexpr std::array kPorts = {"open", "lost", "closed"};
constexpr std::array kCauses = {"presence", "motion"};
constexpr std::array kEventKinds = {"started", "feature_ended", "stopped_ready", "failed",
                                    "panic_stop", "noise", "bus_lost", "bus_back",
                                    "log_failed"};

template <std::size_t N>
bool oneOf(std::string_view v, const std::array<const char*, N>& set) {
    for (const char* s : set) {
        if (v == s) return true;
    }
    return false;
}

bool digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// "HH:MM:SS" with any hours, a blank for none.
bool isClock(std::string_view s) {
    if (s == " ") return true;
    const std::size_t c = s.find(':');
    if (c == std::string_view::npos || c == 0 || c > 6) return false;
    const std::string_view rest = s.substr(c + 1);
    return digits(s.substr(0, c)) && rest.size() == 5 && rest[2] == ':' &&
           digits(rest.substr(0, 2)) && digits(rest.substr(3)) && rest[0] <= '5' &&
           rest[3] <= '5';
}

// Checks the object's fields one by one; the first fault is kept in `why`.
class Fields {
public:
    Fields(const JsonValue& object, std::string* why) : m_o(object), m_why(why) {}

    bool ok() const { return m_ok; }
    bool fail(const std::string& what) {
        if (m_ok && m_why) *m_why = what;
        m_ok = false;
        return false;
    }
    // No field beyond `allowed`.
    void only(std::initializer_list<std::string_view> allowed) {
        for (const JsonMember& m : m_o.members) {
            bool known = false;
            for (std::string_view a : allowed) known = known || m.key == a;
            if (!known) fail("unexpected field \"" + m.key + "\"");
        }
    }
    const JsonValue* get(std::string_view key, JsonValue::Type type, bool nullable = false) {
        const JsonValue* v = m_o.find(key);
        if (!v) {
            fail("\"" + std::string(key) + "\" missing");
            return nullptr;
        }
        if (v->type == type) return v;
        if (nullable && v->isNull()) return nullptr;
        fail("\"" + std::string(key) + "\" has the wrong type");
        return nullptr;
    }
    std::string text(std::string_view key, bool nullable = false, std::size_t most = 256) {
        const JsonValue* v = get(key, JsonValue::Type::String, nullable);
        if (!v) return {};
        if (v->text.size() > most) fail("\"" + std::string(key) + "\" too long");
        return v->text;
    }
    bool flag(std::string_view key) {
        const JsonValue* v = get(key, JsonValue::Type::Bool);
        return v && v->boolean;
    }
    std::int64_t integer(std::string_view key, std::int64_t lo, std::int64_t hi,
                         bool nullable = false) {
        const JsonValue* v = get(key, JsonValue::Type::Number, nullable);
        if (!v) return 0;
        if (!v->integral || v->number < static_cast<double>(lo) ||
            v->number > static_cast<double>(hi)) {
            fail("\"" + std::string(key) + "\" out of range");
            return 0;
        }
        return static_cast<std::int64_t>(v->number);
    }
    std::string time(std::string_view key, bool nullable = false) {
        std::string t = text(key, nullable, 40);
        if (!t.empty() && !isContractTime(t)) fail("\"" + std::string(key) + "\" is not a time");
        if (t.empty() && !nullable && m_ok) fail("\"" + std::string(key) + "\" is not a time");
        return t;
    }

private:
    const JsonValue& m_o;
    std::string* m_why;
    bool m_ok = true;
};

std::optional<SitePayload> unitDoc(const JsonValue& o, int topicUnit, std::string* why) {
    Fields f(o, why);
    f.only({"unit", "name", "state", "interlock", "cause", "words", "clock", "since",
            "show_started", "at"});
    UnitDoc d;
    d.unit = static_cast<int>(f.integer("unit", 1, 16));
    d.name = f.text("name", false, 64);
    d.state = f.text("state");
    d.interlock = f.flag("interlock");
    d.cause = f.text("cause", true);
    d.words = f.text("words");
    d.clock = f.text("clock", false, 16);
    d.since = f.time("since");
    d.showStarted = f.time("show_started", true);
    d.at = f.time("at");
    if (!f.ok()) return std::nullopt;
    if (d.unit != topicUnit) return f.fail("unit differs from its topic"), std::nullopt;
    if (!oneOf(d.state, kStates)) return f.fail("unknown state"), std::nullopt;
    if (!oneOf(d.words, kWords)) return f.fail("unknown words"), std::nullopt;
    if (!isClock(d.clock)) return f.fail("clock is not a clock"), std::nullopt;
    const bool failed = d.state == "failed";
    if (failed != oneOf(d.cause, kCauses) || (!failed && !d.cause.empty()))
        return f.fail("cause does not fit the state"), std::nullopt;
    if (failed && d.words != "HELP ME") return f.fail("words do not fit the state"), std::nullopt;
    const bool noShow = d.state == "absent" || d.state == "no_film" || d.state == "ready" || failed;
    if (noShow && !d.showStarted.empty())
        return f.fail("show_started without a show"), std::nullopt;
    if (d.state == "absent" && (d.interlock || d.words != " " || d.clock != " "))
        return f.fail("an absent unit with a state"), std::nullopt;
    return SitePayload{std::move(d)};
}

std::optional<SitePayload> busDoc(const JsonValue& o, std::string* why) {
    Fields f(o, why);
    f.only({"remote", "noise", "port", "port_since", "at"});
    BusDoc d;
    d.remote = f.flag("remote");
    d.noise = f.flag("noise");
    d.port = f.text("port");
    d.portSince = f.time("port_since");
    d.at = f.time("at");
    if (!f.ok()) return std::nullopt;
    if (!oneOf(d.port, kPorts)) return f.fail("unknown port state"), std::nullopt;
    return SitePayload{std::move(d)};
}

std::optional<SitePayload> eventDoc(const JsonValue& o, std::string* why) {
    Fields f(o, why);
    f.only({"kind", "unit", "name", "interlock", "cause", "clock", "at", "seq", "text"});
    EventDoc d;
    d.kind = f.text("kind");
    d.unit = static_cast<int>(f.integer("unit", 1, 16, true));
    d.name = f.text("name", true, 64);
    d.interlock = f.flag("interlock");
    d.cause = f.text("cause", true);
    d.clock = f.text("clock", true, 16);
    d.at = f.time("at");
    d.seq = static_cast<std::uint64_t>(f.integer("seq", 1, 1'000'000'000'000'000));
    if (o.find("text")) d.text = f.text("text", false, 1024);
    if (!f.ok()) return std::nullopt;
    if (!oneOf(d.kind, kEventKinds)) return f.fail("unknown kind"), std::nullopt;
    const bool unitEvent = d.kind == "started" || d.kind == "feature_ended" ||
                           d.kind == "stopped_ready" || d.kind == "failed";
    const bool hasUnit = o.find("unit")->type == JsonValue::Type::Number;
    const bool hasName = o.find("name")->type == JsonValue::Type::String;
    const bool hasClock = o.find("clock")->type == JsonValue::Type::String;
    if (unitEvent != hasUnit || unitEvent != hasName || unitEvent != hasClock ||
        (!unitEvent && d.interlock))
        return f.fail("unit fields do not fit the kind"), std::nullopt;
    if ((d.kind == "failed") != oneOf(d.cause, kCauses) ||
        (d.kind != "failed" && !d.cause.empty()))
        return f.fail("cause does not fit the kind"), std::nullopt;
    if ((d.kind == "log_failed") != (o.find("text") != nullptr))
        return f.fail("text does not fit the kind"), std::nullopt;
    if (hasClock && !isClock(d.clock)) return f.fail("clock is not a clock"), std::nullopt;
    return SitePayload{std::move(d)};
}

}  // namespace

bool isContractTime(std::string_view t) {
    // 2026-12-09T23:31:20+01:00, seconds optionally with a fraction.
    if (t.size() < 25) return false;
    auto at = [&](std::size_t i, std::size_t n) { return digits(t.substr(i, n)); };
    if (!(at(0, 4) && t[4] == '-' && at(5, 2) && t[7] == '-' && at(8, 2) && t[10] == 'T' &&
          at(11, 2) && t[13] == ':' && at(14, 2) && t[16] == ':' && at(17, 2)))
        return false;
    std::size_t i = 19;
    if (t[i] == '.') {
        const std::size_t from = ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        if (i == from || i - from > 9) return false;
    }
    const std::string_view zone = t.substr(i);
    return zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && digits(zone.substr(1, 2)) &&
           zone[3] == ':' && digits(zone.substr(4, 2));
}

std::optional<SiteTopic> readSiteTopic(std::string_view prefix, std::string_view topic,
                                       std::string* why) {
    auto no = [why](const char* what) -> std::optional<SiteTopic> {
        if (why) *why = what;
        return std::nullopt;
    };
    if (topic.size() <= prefix.size() + 1 || topic.substr(0, prefix.size()) != prefix ||
        topic[prefix.size()] != '/')
        return no("not under the prefix");
    std::string_view rest = topic.substr(prefix.size() + 1);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return no("no topic after the site");
    SiteTopic t;
    t.site = std::string(rest.substr(0, slash));
    if (t.site.empty() || t.site.size() > kMaxSiteName) return no("site name empty or too long");
    for (unsigned char c : t.site) {
        if (c < 0x20 || c == 0x7F) return no("control character in the site name");
    }
    const std::string_view level = rest.substr(slash + 1);
    if (level == "online") t.kind = SiteTopicKind::Online;
    else if (level == "bus") t.kind = SiteTopicKind::Bus;
    else if (level == "event") t.kind = SiteTopicKind::Event;
    else if (level == "record") t.kind = SiteTopicKind::Record;
    else if (level.substr(0, 5) == "unit/" && digits(level.substr(5)) && level.size() <= 7) {
        t.kind = SiteTopicKind::Unit;
        t.unit = std::stoi(std::string(level.substr(5)));
        if (t.unit < 1 || t.unit > 16 || level[5] == '0') return no("no such unit");
    } else if (level.substr(0, 6) == "alarm/") {
        t.kind = SiteTopicKind::Alarm;
        t.alarm = std::string(level.substr(6));
        const bool unit = digits(t.alarm) && t.alarm.size() <= 2 && t.alarm[0] != '0' && std::stoi(t.alarm) <= 16;
        if (!unit && t.alarm != "bus" && t.alarm != "site") return no("no such alarm");
    } else {
        return no("unknown topic");
    }
    return t;
}

std::optional<SitePayload> readSitePayload(const SiteTopic& topic, std::string_view payload,
                                           std::string* why) {
    auto no = [why](std::string what) -> std::optional<SitePayload> {
        if (why) *why = std::move(what);
        return std::nullopt;
    };
    if (payload.size() > kMaxPayload) return no("payload too big");
    if (topic.kind == SiteTopicKind::Alarm) return no("an alarm is the hub's own, not a booth's");
    if (topic.kind == SiteTopicKind::Online) {
        if (payload == "1") return SitePayload{OnlineDoc{true}};
        if (payload == "0") return SitePayload{OnlineDoc{false}};
        return no("online is neither \"1\" nor \"0\"");
    }
    if (topic.kind == SiteTopicKind::Record) {
        if (payload.empty() || payload.size() > kMaxRecordText) return no("record empty or too long");
        for (unsigned char c : payload) {
            if (c == 0) return no("NUL in a record");
        }
        return SitePayload{RecordDoc{std::string(payload)}};
    }
    std::string jsonWhy;
    const auto v = readJson(payload, &jsonWhy);
    if (!v) return no("not JSON: " + jsonWhy);
    if (v->type != JsonValue::Type::Object) return no("not a JSON object");
    switch (topic.kind) {
        case SiteTopicKind::Unit: return unitDoc(*v, topic.unit, why);
        case SiteTopicKind::Bus: return busDoc(*v, why);
        case SiteTopicKind::Event: return eventDoc(*v, why);
        default: return no("unknown topic");
    }
}

}  // namespace lw
