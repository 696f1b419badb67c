#include "hub/notices.h"

#include "core/jsonreader.h"

namespace lw::hub {

namespace {

bool isUnit(const Alarm& a) { return a.which != "bus" && a.which != "site"; }

std::string percentEncoded(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The clock time of contract text, for a line a person reads on a phone.
std::string clockOf(const HubTime& t) { return t.text.size() >= 19 ? t.text.substr(11, 8) : t.text; }

// alarmLine with when: since, or when it failed and cleared.
std::string alarmText(const Alarm& a) {
    std::string line = alarmLine(a);
    if (a.active()) return line + " (since " + clockOf(a.opened) + ")";
    return line + (a.told() ? " (cleared at " : " (at " + clockOf(a.opened) + ", cleared at ") + clockOf(a.cleared) + ")";
}

}  // namespace

std::string alarmLine(const Alarm& a) {
    if (!isUnit(a)) return a.which == "bus" ? "the bus is lost" : "the booth is offline";
    std::string what = "unit " + a.which + (a.name.empty() || a.name == a.which ? "" : " (" + a.name + ")") + " failed";
    if (!a.cause.empty()) what += ": " + a.cause;
    if (a.urgent && !a.showTime.empty() && a.showTime != " ") what += ", " + a.showTime + " into the show";
    else if (!a.urgent) what += ", no show running";
    return what;
}

std::string NoticePolicy::siteLink(const std::string& site, const std::string& tail) const {
    if (m_settings.pageUrl.empty()) return {};
    return m_settings.pageUrl + "/site/" + percentEncoded(site) + tail;
}

void NoticePolicy::changed(const AlarmChange& c, const HubTime& now) {
    using W = AlarmChange::What;
    if (c.what != W::Opened && c.what != W::Cleared && c.what != W::Flapping && c.what != W::Unshelved)
        return;
    Pending& p = m_pending[c.site];
    if (p.which.empty()) p.since = now.ms;
    p.which.insert(c.which);
}

std::vector<notify::Message> NoticePolicy::due(AlarmBook& book, const HubTime& now) {
    std::vector<notify::Message> out;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const std::string& site = it->first;
        const auto last = m_lastSent.find(site);
        if (now.ms < it->second.since + m_settings.gatherMs ||
            (last != m_lastSent.end() && now.ms < last->second + m_settings.groupMs)) {
            ++it;
            continue;
        }
        const auto sit = book.sites().find(site);
        const bool quiet = sit == book.sites().end() || sit->second.outOfService.has_value();
        std::vector<const Alarm*> opened, cleared, flapping;
        for (const std::string& which : it->second.which) {
            const Alarm* a = quiet ? nullptr : book.find(site, which);
            if (!a || a->shelf) continue;
            const auto key = std::make_pair(site, which);
            if (a->flapping) {
                if (m_toldFlapping.insert(key).second) flapping.push_back(a);
                continue;
            }
            m_toldFlapping.erase(key);
            if (a->active()) {
                if (!a->told()) opened.push_back(a);
            } else {
                cleared.push_back(a);
            }
        }
        // Opened first: it is what a person must act on; the rest ride along.
        std::vector<const Alarm*> all = opened;
        all.insert(all.end(), flapping.begin(), flapping.end());
        all.insert(all.end(), cleared.begin(), cleared.end());
        if (!all.empty()) {
            const char* kind = !opened.empty() ? "opened" : !flapping.empty() ? "flapping" : "cleared";
            out.push_back(message(book, site, kind, all, now));
            for (const Alarm* a : opened) book.announce(site, a->which, now);
            m_lastSent[site] = now.ms;
        }
        it = m_pending.erase(it);
    }
    // Reminders, per site, while an alarm that was told waits for someone.
    for (const auto& [site, s] : book.sites()) {
        if (s.outOfService || m_pending.count(site)) continue;
        std::vector<const Alarm*> waiting;
        for (const auto& [which, a] : s.alarms) {
            // Only an opening that was told is reminded of (a flapping unit's
            // next opening is not).
            if (a.state == AlarmState::ActiveUnacked && !a.shelf && a.told() &&
                now.ms - a.announced.ms >= m_settings.remindMs)
                waiting.push_back(&a);
        }
        if (waiting.empty()) continue;
        out.push_back(message(book, site, "reminder", waiting, now));
        std::vector<std::string> told;
        for (const Alarm* a : waiting) told.push_back(a->which);
        for (const std::string& w : told) book.announce(site, w, now);
        m_lastSent[site] = now.ms;
    }
    return out;
}

notify::Message NoticePolicy::message(const AlarmBook& book, const std::string& site,
                                      const std::string& kind, const std::vector<const Alarm*>& alarms,
                                      const HubTime& now) const {
    notify::Message m;
    m.site = site;
    m.kind = kind;
    for (const Alarm* a : alarms) m.urgent = m.urgent || (a->urgent && a->active());
    const Alarm& first = *alarms.front();
    std::string head;
    if (kind == "flapping") {
        head = (isUnit(first) ? "unit " + first.which + " (" + first.name + ")" : first.which) +
               " keeps failing and clearing";
    } else if (alarms.size() == 1) {
        head = alarmLine(first);
    } else {
        head = std::to_string(alarms.size()) + " alarms";
    }
    const char* lead = kind == "reminder" ? "still unacknowledged: " : kind == "cleared" ? "cleared: " : "";
    m.title = site + ": " + lead + head;
    for (const Alarm* a : alarms) {
        m.text += (a->flapping ? "flapping: " : "") + alarmText(*a) + (a->urgent && a->active() ? " [urgent]" : "") + "\n";
    }
    m.click = siteLink(site);
    if (!m.click.empty()) m.text += m.click + "\n";
    if (kind == "opened" || kind == "reminder") m.tags.push_back(m.urgent ? "rotating_light" : "warning");
    else if (kind == "flapping") m.tags.push_back("repeat");
    else m.tags.push_back("white_check_mark");
    m.tags.push_back(site);
    m.json = "{\"kind\":" + jsonQuote(kind) + ",\"site\":" + jsonQuote(site) +
             ",\"urgent\":" + (m.urgent ? "true" : "false") + ",\"title\":" + jsonQuote(m.title) +
             ",\"text\":" + jsonQuote(m.text) + ",\"at\":" + jsonQuote(now.text) +
             ",\"link\":" + (m.click.empty() ? "null" : jsonQuote(m.click)) + ",\"alarms\":[";
    for (std::size_t i = 0; i < alarms.size(); ++i) {
        if (i) m.json += ',';
        m.json += book.alarmJson(site, *alarms[i]);
    }
    m.json += "]}";
    return m;
}

}  // namespace lw::hub
