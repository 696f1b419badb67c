#include "hub/alarms.h"

#include <utility>

namespace lw::hub {

namespace {

constexpr std::string_view kStates[] = {"closed", "active_unacknowledged", "active_acknowledged",
                                        "cleared_unacknowledged"};

}  // namespace

std::string_view alarmStateName(AlarmState s) { return kStates[static_cast<int>(s)]; }

std::string_view changeName(AlarmChange::What w) {
    constexpr std::string_view names[] = {"opened",   "cleared",   "acknowledged",  "closed",
                                          "shelved",  "unshelved", "flapping",      "out_of_service",
                                          "in_service", "forgotten"};
    return names[static_cast<int>(w)];
}

void AlarmBook::unitSeen(const std::string& site, const UnitDoc& doc) {
    if (doc.unit < 1 || doc.unit > 16 || doc.state == "failed") return;
    SiteAlarms& s = m_sites[site];
    const std::uint32_t bit = 1u << (doc.unit - 1);
    s.seenUnits |= bit;
    s.runningUnits = doc.showStarted.empty() ? s.runningUnits & ~bit : s.runningUnits | bit;
}

Alarm& AlarmBook::alarm(SiteAlarms& s, const std::string& which) {
    Alarm& a = s.alarms[which];
    a.which = which;
    return a;
}

void AlarmBook::touch(const std::string& site, Alarm& a, const HubTime& now) {
    ++a.rev;
    a.changed = now;
    m_dirty.emplace(site, a.which);
}

std::set<std::pair<std::string, std::string>> AlarmBook::takeDirty() {
    return std::exchange(m_dirty, {});
}

void AlarmBook::raise(const std::string& site, SiteAlarms& s, const std::string& which, bool on,
                      const HubTime& now, std::vector<AlarmChange>& out,
                      const std::function<void(Alarm&)>& describe) {
    const auto it = s.alarms.find(which);
    if (!on && (it == s.alarms.end() || !it->second.active())) return;
    Alarm& a = alarm(s, which);
    while (!a.opens.empty() && now.ms - a.opens.front() > m_settings.flapWindowMs) a.opens.pop_front();
    if (on) {
        if (a.active()) return;
        a.state = AlarmState::ActiveUnacked;
        a.opened = now;
        a.cleared = {};
        a.ackBy.clear();
        a.ackAt = {};
        describe(a);
        a.opens.push_back(now.ms);
        const bool flapping = a.opens.size() > m_settings.flapOpens;
        const bool began = flapping && !a.flapping;
        a.flapping = flapping;
        touch(site, a, now);
        out.push_back({began ? AlarmChange::What::Flapping : AlarmChange::What::Opened, site, which});
        return;
    }
    a.state = a.state == AlarmState::ActiveAcked ? AlarmState::Closed : AlarmState::ClearedUnacked;
    a.cleared = now;
    a.shelf.reset();  // a shelved alarm back to normal is shelved no more
    touch(site, a, now);
    out.push_back({AlarmChange::What::Cleared, site, which});
}

std::vector<AlarmChange> AlarmBook::evaluate(const Site& site, const HubTime& now) {
    std::vector<AlarmChange> out;
    SiteAlarms& s = m_sites[site.name];
    if (s.outOfService && now.ms >= s.outOfService->until.ms) {
        s.outOfService.reset();
        ++s.serviceRev;
        m_dirty.emplace(site.name, "site");
        out.push_back({AlarmChange::What::InService, site.name, ""});
    }
    if (s.outOfService) return out;  // a booth under maintenance raises nothing
    for (auto& [which, a] : s.alarms) {
        if (a.shelf && now.ms >= a.shelf->until.ms) {
            a.shelf.reset();
            touch(site.name, a, now);
            out.push_back({AlarmChange::What::Unshelved, site.name, which});
        }
        // Quiet for a whole window: no longer flapping.
        if (a.flapping && !a.opens.empty() && now.ms - a.opens.back() > m_settings.flapWindowMs) {
            a.flapping = false;
            a.opens.clear();
            touch(site.name, a, now);
        }
    }
    for (int u = 1; u <= 16; ++u) {
        const auto& doc = site.units[static_cast<std::size_t>(u - 1)];
        const bool failed = doc && doc->state == "failed";
        raise(site.name, s, std::to_string(u), failed, now, out, [&](Alarm& a) {
            const std::uint32_t bit = 1u << (u - 1);
            // Never seen before it failed: better a call too many at night.
            a.urgent = !(s.seenUnits & bit) || (s.runningUnits & bit);
            a.name = doc->name;
            a.cause = doc->cause;
            a.showTime = doc->clock;
        });
    }
    const bool lost = site.bus && site.bus->port == "lost";
    if (!lost) s.busLostSeen = 0;
    else if (s.busLostSeen == 0) s.busLostSeen = now.ms;
    raise(site.name, s, "bus", lost && now.ms - s.busLostSeen >= m_settings.busLostAfterMs, now, out,
          [](Alarm& a) {
              a.urgent = true;
              a.name = "bus";
              a.cause = "bus lost";
              a.showTime.clear();
          });
    const bool offline = site.live == Site::Live::Offline &&
                         now.ms - site.liveSince.ms >= m_settings.offlineAfterMs;
    raise(site.name, s, "site", offline, now, out, [](Alarm& a) {
        a.urgent = true;
        a.name = "site";
        a.cause = "offline";
        a.showTime.clear();
    });
    return out;
}

AlarmBook::Outcome AlarmBook::act(const AlarmAction& act, const std::string& by, const HubTime& now) {
    using K = AlarmAction::Kind;
    using W = AlarmChange::What;
    Outcome o;
    auto refuse = [&](int status, const char* why) {
        o.status = status;
        o.why = why;
        return o;
    };
    const auto sit = m_sites.find(act.site);
    if (sit == m_sites.end()) return refuse(404, "no such site");
    SiteAlarms& s = sit->second;
    if (act.kind == K::ForgetSite) {
        m_sites.erase(sit);
        o.changes.push_back({W::Forgotten, act.site, ""});
        return o;
    }
    if (act.kind == K::OutOfService) {
        s.outOfService = Hold{hubTimeAfter(now, act.minutes * 60'000), act.reason, by, now};
        ++s.serviceRev;
        m_dirty.emplace(act.site, "site");
        o.changes.push_back({W::OutOfService, act.site, ""});
        for (auto& [which, a] : s.alarms) {
            if (a.state == AlarmState::Closed && !a.shelf) continue;
            a.state = AlarmState::Closed;
            a.shelf.reset();
            touch(act.site, a, now);
            o.changes.push_back({W::Closed, act.site, which});
        }
        return o;
    }
    if (act.kind == K::InService) {
        if (!s.outOfService) return refuse(409, "the site is in service");
        s.outOfService.reset();
        ++s.serviceRev;
        m_dirty.emplace(act.site, "site");
        o.changes.push_back({W::InService, act.site, ""});
        return o;
    }
    if (act.kind == K::Acknowledge) {
        for (auto& [which, a] : s.alarms) {
            if ((act.which != "all" && which != act.which) || !a.unacked()) continue;
            a.state = a.state == AlarmState::ActiveUnacked ? AlarmState::ActiveAcked : AlarmState::Closed;
            a.ackBy = by;
            a.ackAt = now;
            touch(act.site, a, now);
            o.changes.push_back({a.active() ? W::Acknowledged : W::Closed, act.site, which});
        }
        if (o.changes.empty()) return refuse(409, "nothing to acknowledge");
        return o;
    }
    const auto ait = s.alarms.find(act.which);
    if (ait == s.alarms.end()) return refuse(404, "no such alarm");
    Alarm& a = ait->second;
    if (act.kind == K::Shelve) {
        if (!a.active()) return refuse(409, "only an active alarm is shelved");
        a.shelf = Hold{hubTimeAfter(now, act.minutes * 60'000), act.reason, by, now};
        touch(act.site, a, now);
        o.changes.push_back({W::Shelved, act.site, act.which});
        return o;
    }
    if (!a.shelf) return refuse(409, "the alarm is not shelved");
    a.shelf.reset();
    touch(act.site, a, now);
    o.changes.push_back({W::Unshelved, act.site, act.which});
    return o;
}

void AlarmBook::announce(const std::string& site, const std::string& which, const HubTime& now) {
    const auto sit = m_sites.find(site);
    if (sit == m_sites.end()) return;
    const auto ait = sit->second.alarms.find(which);
    if (ait == sit->second.alarms.end()) return;
    ait->second.announced = now;
    touch(site, ait->second, now);
}

const Alarm* AlarmBook::find(const std::string& site, std::string_view which) const {
    const auto sit = m_sites.find(site);
    if (sit == m_sites.end()) return nullptr;
    const auto ait = sit->second.alarms.find(which);
    return ait == sit->second.alarms.end() ? nullptr : &ait->second;
}

}  // namespace lw::hub
