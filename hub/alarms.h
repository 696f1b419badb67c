#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/payloadcheck.h"
#include "hub/sitetable.h"

// The chain's alarms, one per (site, unit), per site for its bus and for
// the site itself, in the states of ISA-18.2: active and unacknowledged,
// active and acknowledged, returned to normal before anyone acknowledged,
// closed. Acknowledging says someone is on it, not that it is fixed. No Qt
// and no clock: the hub hands in the site table's view and the time.
namespace lw::hub {

enum class AlarmState { Closed, ActiveUnacked, ActiveAcked, ClearedUnacked };
// "closed", "active_unacknowledged", "active_acknowledged", "cleared_unacknowledged"
std::string_view alarmStateName(AlarmState s);

// A shelf on one alarm, or a whole site out of service: until when, why, who.
struct Hold {
    HubTime until;
    std::string reason;
    std::string by;
    HubTime at;
};

struct Alarm {
    std::string which;  // "1" to "16", "bus" or "site"
    AlarmState state = AlarmState::Closed;
    bool urgent = false;    // a unit failing while its show clock ran
    std::string name;       // the unit's name
    std::string cause;      // "presence", "motion", "bus lost", "offline"
    std::string showTime;   // the show clock when it failed
    HubTime opened;
    HubTime cleared;        // when it returned to normal (ms 0: not yet)
    std::string ackBy;
    HubTime ackAt;
    std::optional<Hold> shelf;
    HubTime announced;      // the last message that told of it opening (ms 0: none)
    bool flapping = false;
    std::uint64_t rev = 0;  // grows with every change; the highest wins between hubs
    HubTime changed;
    std::deque<std::int64_t> opens;  // when it opened lately, for flapping; not published

    bool active() const { return state == AlarmState::ActiveUnacked || state == AlarmState::ActiveAcked; }
    bool unacked() const { return state == AlarmState::ActiveUnacked || state == AlarmState::ClearedUnacked; }
    // A message told of its latest opening.
    bool told() const { return announced.ms != 0 && announced.ms >= opened.ms; }
};

struct AlarmSettings {
    std::int64_t busLostAfterMs = 30'000;
    std::int64_t offlineAfterMs = 120'000;
    std::int64_t flapWindowMs = 600'000;
    std::size_t flapOpens = 3;  // more opens than this in the window is flapping
};

// What happened to one alarm (or a site's service state), for the retained
// document, the history and the messages.
struct AlarmChange {
    enum class What { Opened, Cleared, Acknowledged, Closed, Shelved, Unshelved, Flapping, OutOfService, InService, Forgotten };
    What what;
    std::string site;
    std::string which;  // empty for the site's service state and Forgotten
};
std::string_view changeName(AlarmChange::What w);

// An operator's action as the page posts it.
struct AlarmAction {
    enum class Kind { Acknowledge, Shelve, Unshelve, OutOfService, InService, ForgetSite };
    Kind kind = Kind::Acknowledge;
    std::string site;
    std::string which;  // an alarm, or "all" of the site's (acknowledge only)
    std::string reason;
    std::int64_t minutes = 0;  // shelve and out of service
};
inline constexpr std::int64_t kMaxShelfMinutes = 24 * 60;
inline constexpr std::int64_t kMaxOutOfServiceMinutes = 30 * 24 * 60;
inline constexpr std::size_t kMaxReason = 200;
std::string_view actionName(AlarmAction::Kind k);
// {"action":"acknowledge|shelve|unshelve|out_of_service|in_service|forget_site",
//  "site":S,"alarm":A,"reason":R,"minutes":N}, checked; nullopt with why.
std::optional<AlarmAction> readAlarmAction(std::string_view body, std::string* why);

class AlarmBook {
public:
    struct SiteAlarms {
        std::map<std::string, Alarm, std::less<>> alarms;
        std::optional<Hold> outOfService;
        std::uint64_t serviceRev = 0;
        std::int64_t busLostSeen = 0;      // hub time the bus was first seen lost
        std::uint32_t runningUnits = 0;    // bit u-1: unit u's last doc had a clock running
        std::uint32_t seenUnits = 0;
    };

    explicit AlarmBook(AlarmSettings settings = {}) : m_settings(settings) {}

    // A unit document as it arrived, before the table drops the previous one:
    // it tells whether a failure came during a show.
    void unitSeen(const std::string& site, const UnitDoc& doc);
    // The site's conditions as the table holds them now, and expired shelves
    // and service holds.
    std::vector<AlarmChange> evaluate(const Site& site, const HubTime& now);

    struct Outcome {
        int status = 200;
        std::string why;
        std::vector<AlarmChange> changes;
    };
    Outcome act(const AlarmAction& a, const std::string& by, const HubTime& now);
    // A message told of the alarm now: a restarted hub does not tell it again.
    void announce(const std::string& site, const std::string& which, const HubTime& now);

    // A retained alarm document from the broker: another hub's, one from
    // before a restart, or this hub's own coming back. Taken when its rev is
    // higher than the one held; false with why when it cannot be read.
    bool takeRetained(const std::string& site, std::string_view which, std::string_view payload,
                      std::string* why = nullptr);

    // The retained document of one alarm, and of the site's own alarm with
    // its service state.
    std::string alarmJson(const std::string& site, const Alarm& a) const;
    std::string documentJson(const std::string& site, const std::string& which) const;
    // The alarms not closed (the first `max`, and how many more), and every
    // site out of service, for the page: urgent and unacknowledged first.
    static constexpr std::size_t kMaxListed = 1000;
    std::string listJson(std::size_t max = kMaxListed) const;
    const std::map<std::string, SiteAlarms, std::less<>>& sites() const { return m_sites; }
    const Alarm* find(const std::string& site, std::string_view which) const;
    // The (site, alarm) documents changed since the last call, to publish.
    std::set<std::pair<std::string, std::string>> takeDirty();

private:
    Alarm& alarm(SiteAlarms& s, const std::string& which);
    void raise(const std::string& site, SiteAlarms& s, const std::string& which, bool on,
               const HubTime& now, std::vector<AlarmChange>& out,
               const std::function<void(Alarm&)>& describe);
    void touch(const std::string& site, Alarm& a, const HubTime& now);

    AlarmSettings m_settings;
    std::map<std::string, SiteAlarms, std::less<>> m_sites;
    std::set<std::pair<std::string, std::string>> m_dirty;
};

// Contract text (YYYY-MM-DDTHH:MM:SS[.fff]+HH:MM) as milliseconds since the epoch.
std::optional<std::int64_t> contractTimeMs(std::string_view text);
// `now` moved on by `ms`, in the same offset.
HubTime hubTimeAfter(const HubTime& now, std::int64_t ms);

}  // namespace lw::hub
