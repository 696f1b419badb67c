#include "hub/sitetable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <variant>

#include "core/jsonreader.h"

namespace lw::hub {

HubTime hubTimeAt(std::int64_t ms, int offset) {
    const std::int64_t local = ms / 1000 + offset;
    const auto day = std::chrono::floor<std::chrono::days>(std::chrono::sys_seconds{std::chrono::seconds{local}});
    const std::chrono::year_month_day ymd{day};
    const std::int64_t secs = local - day.time_since_epoch().count() * 86400;
    const int off = offset < 0 ? -offset : offset;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                  offset < 0 ? '-' : '+', off / 3600, off / 60 % 60);
    return {ms, buf};
}


std::string_view worstName(Worst w) {
    switch (w) {
        case Worst::Failed: return "failed";
        case Worst::BusLost: return "bus_lost";
        case Worst::Offline: return "offline";
        case Worst::Running: return "running";
        case Worst::Idle: return "idle";
    }
    return "idle";
}

namespace {

bool isRunning(const std::string& state) {
    return state == "running" || state == "starting" || state == "closing";
}

}  // namespace

Worst Site::worst() const {
    // An offline site's last states are history, not news: it is offline.
    if (!online()) return Worst::Offline;
    bool running = false;
    for (const auto& u : units) {
        if (u && u->state == "failed") return Worst::Failed;
        running = running || (u && isRunning(u->state));
    }
    if (bus && bus->port != "open") return Worst::BusLost;
    return running ? Worst::Running : Worst::Idle;
}

std::string Site::worstSince() const {
    const Worst w = worst();
    if (w == Worst::Offline) return liveSince.text;
    if (w == Worst::BusLost) return bus->portSince;
    std::string earliest;
    for (const auto& u : units) {
        if (!u) continue;
        const bool counts = w == Worst::Failed ? u->state == "failed" : isRunning(u->state);
        // Contract times of one booth share its offset, so text order is time order.
        if (counts && (earliest.empty() || u->since < earliest)) earliest = u->since;
    }
    return earliest.empty() ? liveSince.text : earliest;
}

SiteTable::SiteTable(std::size_t maxSites, Journal journal) : m_max(maxSites), m_journal(std::move(journal)) {}

SiteTable::Taken SiteTable::take(std::string_view prefix, std::string_view topic,
                                 std::string_view payload, const HubTime& now) {
    ++m_stats.messages;
    Taken out;
    const auto t = readSiteTopic(prefix, topic, &out.why);
    if (!t) {
        ++m_stats.invalid;
        return out;
    }
    if (t->kind == SiteTopicKind::Alarm) {
        out.alarm = *t;
        return out;
    }
    out.payload = readSitePayload(*t, payload, &out.why);
    auto it = m_sites.find(t->site);
    if (it == m_sites.end()) {
        // Only a readable message makes a site, so junk cannot fill the table.
        if (!out.payload) {
            ++m_stats.invalid;
            return out;
        }
        if (m_sites.size() >= m_max) {
            ++m_stats.refusedNewSites;
            if (!m_toldFull && m_journal) {
                m_journal("site table full at " + std::to_string(m_max) +
                       " sites (--max-sites): messages from new sites are dropped and counted");
            }
            m_toldFull = true;
            out.why = "site table full";
            out.refused = true;
            return out;
        }
        Site s;
        s.name = t->site;
        s.firstHeard = now;
        s.liveSince = now;
        it = m_sites.emplace(t->site, std::move(s)).first;
    }
    Site& site = it->second;
    out.site = &site;
    site.lastHeard = now;
    if (!out.payload) {
        ++m_stats.invalid;
        ++site.invalid;
        site.lastInvalid = out.why;
        site.lastInvalidAt = now;
        ++site.version;
        return out;
    }
    out.accepted = true;
    std::visit(
        [&](const auto& d) {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, OnlineDoc>) {
                const Site::Live live = d.online ? Site::Live::Online : Site::Live::Offline;
                if (live != site.live) {
                    site.live = live;
                    site.liveSince = now;
                    ++site.version;
                }
            } else if constexpr (std::is_same_v<D, UnitDoc>) {
                auto& slot = site.units[static_cast<std::size_t>(d.unit - 1)];
                out.news = !slot || slot->state != d.state || slot->interlock != d.interlock ||
                           slot->cause != d.cause || slot->name != d.name || slot->since != d.since;
                slot = d;
                ++site.version;
            } else if constexpr (std::is_same_v<D, BusDoc>) {
                out.news = !site.bus || site.bus->port != d.port || site.bus->remote != d.remote ||
                           site.bus->portSince != d.portSince;
                site.bus = d;
                ++site.version;
            } else if constexpr (std::is_same_v<D, EventDoc>) {
                site.lastEventSeq = d.seq;
            }
        },
        *out.payload);
    return out;
}

std::size_t SiteTable::tick(const HubTime& now) {
    std::size_t changed = 0;
    for (auto& [name, s] : m_sites) {
        if (s.live == Site::Live::Unknown && now.ms - s.firstHeard.ms >= kOnlineGrace.count()) {
            s.live = Site::Live::Offline;
            s.liveSince = s.firstHeard;  // never heard live
            ++s.version;
            ++changed;
        }
    }
    return changed;
}

const Site* SiteTable::find(const std::string& name) const {
    const auto it = m_sites.find(name);
    return it == m_sites.end() ? nullptr : &it->second;
}

std::vector<const Site*> SiteTable::ordered() const {
    std::vector<const Site*> out;
    out.reserve(m_sites.size());
    for (const auto& [name, s] : m_sites) out.push_back(&s);
    // The map is by name already: a stable sort by worst keeps names in order.
    std::stable_sort(out.begin(), out.end(),
                     [](const Site* a, const Site* b) { return a->worst() < b->worst(); });
    return out;
}

Counts SiteTable::counts() const {
    Counts c;
    for (const auto& [name, s] : m_sites) {
        if (!s.online()) {
            ++c.offline;
            continue;
        }
        ++c.online;
        for (const auto& u : s.units) {
            if (u && u->state == "failed") ++c.failed;
            if (u && isRunning(u->state)) ++c.running;
        }
        if (s.bus && s.bus->port != "open") ++c.busesLost;
    }
    return c;
}

namespace {

std::string quoted(std::string_view s) { return jsonQuote(s); }
std::string timeOrNull(const std::string& t) { return t.empty() ? "null" : quoted(t); }

char markOf(const UnitDoc& u) {
    static constexpr std::pair<std::string_view, char> kMarks[] = {
        {"absent", '.'}, {"starting", 's'}, {"running", 'r'}, {"closing", 'c'},
        {"no_film", 'n'}, {"ready", 'y'},  {"failed", 'f'}};
    for (const auto& [state, mark] : kMarks) {
        if (u.state == state) return u.interlock ? static_cast<char>(mark - 32) : mark;
    }
    return '-';
}

}  // namespace

std::string siteJson(const Site& s, bool detail) {
    std::string j = "{\"site\":" + quoted(s.name) + ",\"worst\":\"" +
                    std::string(worstName(s.worst())) + "\",\"since\":" +
                    timeOrNull(s.worstSince()) + ",\"online\":" + (s.online() ? "true" : "false") +
                    ",\"live_since\":" + timeOrNull(s.liveSince.text) +
                    ",\"last_heard\":" + timeOrNull(s.lastHeard.text) +
                    ",\"invalid\":" + std::to_string(s.invalid);
    if (s.invalid) {
        j += ",\"last_invalid\":" + quoted(s.lastInvalid) +
             ",\"last_invalid_at\":" + timeOrNull(s.lastInvalidAt.text);
    }
    // Offline: no unit states at all, so nothing old can pass for live.
    const bool show = s.online() || detail;
    if (!detail) {
        // A tile's sixteen marks in one string: a letter per state, upper case
        // with the interlock, '-' for a unit never heard.
        std::string marks;
        for (const auto& u : s.units) marks += u ? markOf(*u) : '-';
        j += s.online() ? ",\"marks\":\"" + marks + "\"" : ",\"marks\":null";
    } else {
        j += ",\"units\":[";
        for (std::size_t i = 0; i < s.units.size(); ++i) {
            if (i) j += ',';
            const auto& u = s.units[i];
            if (!u) {
                j += "null";
                continue;
            }
            j += "{\"unit\":" + std::to_string(u->unit) + ",\"name\":" + quoted(u->name) +
                 ",\"state\":" + quoted(u->state) +
                 ",\"interlock\":" + (u->interlock ? "true" : "false") +
                 ",\"cause\":" + (u->cause.empty() ? "null" : quoted(u->cause)) +
                 ",\"since\":" + quoted(u->since) + ",\"words\":" + quoted(u->words) +
                 ",\"clock\":" + quoted(u->clock) +
                 ",\"show_started\":" + timeOrNull(u->showStarted) + ",\"at\":" + quoted(u->at) +
                 '}';
        }
        j += ']';
    }
    if (show && s.bus) {
        j += ",\"bus\":{\"port\":" + quoted(s.bus->port) +
             ",\"port_since\":" + quoted(s.bus->portSince) +
             ",\"remote\":" + (s.bus->remote ? "true" : "false") +
             ",\"noise\":" + (s.bus->noise ? "true" : "false") + "}";
    } else {
        j += ",\"bus\":null";
    }
    j += '}';
    return j;
}

std::string siteBoardJson(const Site& s, const HubTime& now) {
    const BusDoc bus = s.bus.value_or(BusDoc{false, false, "closed", "", ""});
    std::string j = "{\"at\":" + quoted(s.online() ? now.text : s.lastHeard.text) +
                    ",\"remote\":" + (bus.remote ? "true" : "false") +
                    ",\"noise\":" + (bus.noise ? "true" : "false") +
                    ",\"port\":" + quoted(bus.port) + ",\"port_since\":" + timeOrNull(bus.portSince) +
                    ",\"units\":[";
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        if (i) j += ',';
        const UnitDoc u = s.units[i].value_or(UnitDoc{static_cast<int>(i) + 1, "", "absent", false,
                                                      "", " ", " ", "", "", ""});
        j += "{\"unit\":" + std::to_string(u.unit) + ",\"name\":" + quoted(u.name) +
             ",\"state\":" + quoted(u.state) +
             ",\"interlock\":" + (u.interlock ? "true" : "false") +
             ",\"cause\":" + (u.cause.empty() ? "null" : quoted(u.cause)) +
             ",\"words\":" + quoted(u.words) + ",\"clock\":" + quoted(u.clock) +
             ",\"since\":" + timeOrNull(u.since) +
             ",\"show_started\":" + timeOrNull(u.showStarted) + '}';
    }
    return j + "]}";
}

std::string countsJson(const Counts& c, const TableStats& s, std::size_t sites) {
    return "{\"sites\":" + std::to_string(sites) + ",\"online\":" + std::to_string(c.online) +
           ",\"offline\":" + std::to_string(c.offline) + ",\"running\":" +
           std::to_string(c.running) + ",\"failed\":" + std::to_string(c.failed) +
           ",\"buses_lost\":" + std::to_string(c.busesLost) +
           ",\"messages\":" + std::to_string(s.messages) +
           ",\"invalid\":" + std::to_string(s.invalid) +
           ",\"refused_sites\":" + std::to_string(s.refusedNewSites) + "}";
}

}  // namespace lw::hub
