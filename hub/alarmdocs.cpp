#include "hub/alarms.h"

#include <algorithm>
#include <chrono>
#include <tuple>

#include "core/jsonreader.h"

// The alarms as JSON, both ways: the retained documents and the page's list out,
// documents from the broker and operators' actions in, every one checked.
namespace lw::hub {

namespace {

constexpr std::string_view kActions[] = {"acknowledge", "shelve", "unshelve",
                                         "out_of_service", "in_service", "forget_site"};

std::string timeOrNull(const HubTime& t) { return t.ms == 0 ? "null" : jsonQuote(t.text); }

std::string holdJson(const std::optional<Hold>& h) {
    if (!h) return "null";
    return "{\"until\":" + jsonQuote(h->until.text) + ",\"reason\":" + jsonQuote(h->reason) +
           ",\"by\":" + jsonQuote(h->by) + ",\"at\":" + jsonQuote(h->at.text) + "}";
}

bool validWhich(std::string_view w) {
    if (w == "bus" || w == "site") return true;
    if (w.empty() || w.size() > 2 || w[0] == '0') return false;
    int n = 0;
    for (char c : w) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= 16;
}

// A time member read back: contract text, or null for none.
bool readTime(const JsonValue& doc, std::string_view key, HubTime& out) {
    const JsonValue* v = doc.find(key);
    if (!v || v->isNull()) {
        out = {};
        return v != nullptr;
    }
    const auto ms = v->type == JsonValue::Type::String ? contractTimeMs(v->text) : std::nullopt;
    if (!ms) return false;
    out = {*ms, v->text};
    return true;
}

bool readText(const JsonValue& doc, std::string_view key, std::string& out, std::size_t max = 256) {
    const JsonValue* v = doc.find(key);
    if (!v || v->type != JsonValue::Type::String || v->text.size() > max) return false;
    out = v->text;
    return true;
}

bool readHold(const JsonValue* v, std::optional<Hold>& out) {
    if (!v) return false;
    out.reset();
    if (v->isNull()) return true;
    if (v->type != JsonValue::Type::Object) return false;
    Hold h;
    if (!readTime(*v, "until", h.until) || !readTime(*v, "at", h.at) || h.until.ms == 0 ||
        !readText(*v, "reason", h.reason, kMaxReason) || !readText(*v, "by", h.by, 64))
        return false;
    out = std::move(h);
    return true;
}

bool readCount(const JsonValue& doc, std::string_view key, std::uint64_t& out) {
    const JsonValue* v = doc.find(key);
    if (!v || v->type != JsonValue::Type::Number || !v->integral || v->number < 0 || v->number > 9e15)
        return false;
    out = static_cast<std::uint64_t>(v->number);
    return true;
}

}  // namespace

std::string_view actionName(AlarmAction::Kind k) { return kActions[static_cast<int>(k)]; }

std::optional<std::int64_t> contractTimeMs(std::string_view t) {
    if (!isContractTime(t)) return std::nullopt;
    auto num = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (t[i] - '0');
        return v;
    };
    const std::chrono::year_month_day ymd{std::chrono::year{num(0, 4)},
                                          std::chrono::month{static_cast<unsigned>(num(5, 2))},
                                          std::chrono::day{static_cast<unsigned>(num(8, 2))}};
    if (!ymd.ok()) return std::nullopt;
    std::size_t z = 19;
    int frac = 0;
    if (t[z] == '.') {
        frac = num(20, 3);
        z = 23;
    }
    const int offset = (num(z + 1, 2) * 60 + num(z + 4, 2)) * (t[z] == '-' ? -1 : 1);
    const std::int64_t days = std::chrono::sys_days{ymd}.time_since_epoch().count();
    const std::int64_t secs = days * 86400 + num(11, 2) * 3600 + num(14, 2) * 60 + num(17, 2) - offset * 60;
    return secs * 1000 + frac;
}

HubTime hubTimeAfter(const HubTime& now, std::int64_t ms) {
    int offset = 0;
    if (const auto n = contractTimeMs(now.text)) {
        const std::size_t z = now.text.size() - 6;
        offset = ((now.text[z + 1] - '0') * 600 + (now.text[z + 2] - '0') * 60 +
                  (now.text[z + 4] - '0') * 10 + (now.text[z + 5] - '0')) * 60 *
                 (now.text[z] == '-' ? -1 : 1);
    }
    return hubTimeAt(now.ms + ms, offset);
}

std::optional<AlarmAction> readAlarmAction(std::string_view body, std::string* why) {
    auto fail = [&](const char* w) -> std::optional<AlarmAction> {
        if (why) *why = w;
        return std::nullopt;
    };
    const auto doc = readJson(body, why);
    if (!doc) return std::nullopt;
    if (doc->type != JsonValue::Type::Object) return fail("an action is a JSON object");
    for (const JsonMember& m : doc->members) {
        if (m.key != "action" && m.key != "site" && m.key != "alarm" && m.key != "reason" && m.key != "minutes")
            return fail("unknown member");
    }
    AlarmAction a;
    std::string name;
    if (!readText(*doc, "action", name, 32)) return fail("action is required");
    const auto* k = std::find(std::begin(kActions), std::end(kActions), name);
    if (k == std::end(kActions)) return fail("no such action");
    a.kind = static_cast<AlarmAction::Kind>(k - std::begin(kActions));
    if (!readText(*doc, "site", a.site, kMaxSiteName) || a.site.empty()) return fail("site is required");
    using K = AlarmAction::Kind;
    const bool perAlarm = a.kind == K::Acknowledge || a.kind == K::Shelve || a.kind == K::Unshelve;
    if (perAlarm) {
        if (!readText(*doc, "alarm", a.which, 8)) return fail("alarm is required");
        if (!validWhich(a.which) && !(a.kind == K::Acknowledge && a.which == "all"))
            return fail("alarm is 1 to 16, bus or site");
    } else if (doc->find("alarm")) {
        return fail("this action is for a whole site");
    }
    if (a.kind == K::Shelve || a.kind == K::OutOfService) {
        if (!readText(*doc, "reason", a.reason, kMaxReason) || a.reason.empty())
            return fail("a reason is required");
        for (unsigned char c : a.reason) {
            if (c < 0x20 || c == 0x7f) return fail("the reason is one line of text");
        }
        const JsonValue* m = doc->find("minutes");
        const std::int64_t max = a.kind == K::Shelve ? kMaxShelfMinutes : kMaxOutOfServiceMinutes;
        if (!m || m->type != JsonValue::Type::Number || !m->integral || m->number < 1 ||
            m->number > static_cast<double>(max))
            return fail(a.kind == K::Shelve ? "minutes is 1 to 1440 (24 h at most)"
                                             : "minutes is 1 to 43200 (30 days at most)");
        a.minutes = static_cast<std::int64_t>(m->number);
    } else if (doc->find("reason") || doc->find("minutes")) {
        return fail("this action takes no reason or minutes");
    }
    return a;
}

bool AlarmBook::takeRetained(const std::string& site, std::string_view which, std::string_view payload,
                             std::string* why) {
    auto fail = [&](const char* w) {
        if (why) *why = w;
        return false;
    };
    if (!validWhich(which)) return fail("no such alarm");
    if (payload.empty()) return true;  // a forgotten site's topics being cleared
    const auto doc = readJson(payload, why);
    if (!doc) return false;
    if (doc->type != JsonValue::Type::Object) return fail("an alarm is a JSON object");
    Alarm a;
    a.which = std::string(which);
    std::string state, priority, site2, which2;
    bool ok = readText(*doc, "site", site2, kMaxSiteName) && site2 == site &&
              readText(*doc, "alarm", which2, 8) && which2 == which &&
              readText(*doc, "state", state, 32) && readText(*doc, "priority", priority, 16) &&
              (priority == "urgent" || priority == "normal") && readText(*doc, "name", a.name) &&
              readText(*doc, "cause", a.cause) && readText(*doc, "show_time", a.showTime, 32) &&
              readTime(*doc, "opened", a.opened) && readTime(*doc, "cleared", a.cleared) &&
              readTime(*doc, "announced", a.announced) && readTime(*doc, "changed", a.changed) &&
              readCount(*doc, "rev", a.rev) && readHold(doc->find("shelved"), a.shelf);
    const AlarmState states[] = {AlarmState::Closed, AlarmState::ActiveUnacked, AlarmState::ActiveAcked,
                                 AlarmState::ClearedUnacked};
    const auto* st = std::find_if(std::begin(states), std::end(states),
                                  [&](AlarmState x) { return alarmStateName(x) == state; });
    if (!ok || st == std::end(states)) return fail("not an alarm document");
    a.state = *st;
    a.urgent = priority == "urgent";
    const JsonValue* ack = doc->find("acknowledged");
    if (!ack) return fail("not an alarm document");
    if (ack->type == JsonValue::Type::Object) {
        if (!readText(*ack, "by", a.ackBy, 64) || !readTime(*ack, "at", a.ackAt)) return fail("not an alarm document");
    }
    const JsonValue* flapping = doc->find("flapping");
    a.flapping = flapping && flapping->type == JsonValue::Type::Bool && flapping->boolean;
    std::optional<Hold> service;
    std::uint64_t serviceRev = 0;
    if (which == "site" && (!readHold(doc->find("out_of_service"), service) ||
                            !readCount(*doc, "service_rev", serviceRev)))
        return fail("not an alarm document");
    SiteAlarms& s = m_sites[site];
    if (which == "site" && serviceRev > s.serviceRev) {
        s.outOfService = std::move(service);
        s.serviceRev = serviceRev;
    }
    const auto held = s.alarms.find(which);
    // Two hubs may change one alarm at once: the later change wins the tie.
    if (held != s.alarms.end() &&
        (held->second.rev > a.rev || (held->second.rev == a.rev && held->second.changed.ms >= a.changed.ms)))
        return true;
    if (held != s.alarms.end()) a.opens = held->second.opens;
    s.alarms[a.which] = std::move(a);
    return true;
}

std::string AlarmBook::alarmJson(const std::string& site, const Alarm& a) const {
    std::string j = "{\"site\":" + jsonQuote(site) + ",\"alarm\":" + jsonQuote(a.which) +
                    ",\"state\":" + jsonQuote(alarmStateName(a.state)) +
                    ",\"priority\":" + (a.urgent ? "\"urgent\"" : "\"normal\"") +
                    ",\"name\":" + jsonQuote(a.name) + ",\"cause\":" + jsonQuote(a.cause) +
                    ",\"show_time\":" + jsonQuote(a.showTime) + ",\"opened\":" + timeOrNull(a.opened) +
                    ",\"cleared\":" + timeOrNull(a.cleared) + ",\"acknowledged\":";
    j += a.ackBy.empty() ? "null" : "{\"by\":" + jsonQuote(a.ackBy) + ",\"at\":" + jsonQuote(a.ackAt.text) + "}";
    j += ",\"shelved\":" + holdJson(a.shelf) + ",\"announced\":" + timeOrNull(a.announced) +
         ",\"flapping\":" + (a.flapping ? "true" : "false") + ",\"rev\":" + std::to_string(a.rev) +
         ",\"changed\":" + timeOrNull(a.changed);
    if (a.which == "site") {
        const auto it = m_sites.find(site);
        j += ",\"out_of_service\":" + holdJson(it == m_sites.end() ? std::nullopt : it->second.outOfService) +
             ",\"service_rev\":" + std::to_string(it == m_sites.end() ? 0 : it->second.serviceRev);
    }
    return j + "}";
}

std::string AlarmBook::documentJson(const std::string& site, const std::string& which) const {
    if (const Alarm* a = find(site, which)) return alarmJson(site, *a);
    Alarm closed;
    closed.which = which;
    return alarmJson(site, closed);
}

std::string AlarmBook::listJson(std::size_t max) const {
    std::vector<std::pair<const std::string*, const Alarm*>> open;
    std::string oos;
    for (const auto& [site, s] : m_sites) {
        for (const auto& [which, a] : s.alarms) {
            if (a.state != AlarmState::Closed) open.emplace_back(&site, &a);
        }
        if (s.outOfService) {
            if (!oos.empty()) oos += ',';
            oos += "{\"site\":" + jsonQuote(site) + ",\"hold\":" + holdJson(s.outOfService) + "}";
        }
    }
    // Urgent and unacknowledged first, then the oldest first; shelved ones last.
    std::stable_sort(open.begin(), open.end(), [](const auto& x, const auto& y) {
        const auto key = [](const Alarm& a) {
            return std::make_tuple(a.shelf.has_value(), !(a.urgent && a.unacked()), !a.unacked(), !a.urgent,
                                   a.opened.ms);
        };
        return key(*x.second) < key(*y.second);
    });
    std::string j = "{\"alarms\":[";
    const std::size_t shown = std::min(open.size(), max);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i) j += ',';
        j += alarmJson(*open[i].first, *open[i].second);
    }
    return j + "],\"more\":" + std::to_string(open.size() - shown) + ",\"out_of_service\":[" + oos + "]}";
}

}  // namespace lw::hub
