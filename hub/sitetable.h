#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/journal.h"
#include "core/payloadcheck.h"

// Every booth the hub has heard, by site name: what its retained topics last
// said, whether it is live, and what it sent that could not be read. No Qt
// and no clock of its own: the caller hands in the time, so a table of
// messages walks it through a night.
namespace lw::hub {

inline constexpr std::size_t kDefaultMaxSites = 5000;
// A site that has said nothing on `online` this long after it was first heard
// is shown offline: a booth that is up says "1" the moment it connects.
inline constexpr std::chrono::milliseconds kOnlineGrace{10'000};

// The hub's own time: milliseconds since the epoch and the same as contract text.
struct HubTime {
    std::int64_t ms = 0;
    std::string text;
};
// `msSinceEpoch` as contract text at `offsetSeconds` from UTC.
HubTime hubTimeAt(std::int64_t msSinceEpoch, int offsetSeconds);

// What a tile shows first, worst first.
enum class Worst { Failed, BusLost, Offline, Running, Idle };
std::string_view worstName(Worst w);  // "failed", "bus_lost", "offline", "running", "idle"

struct Site {
    std::string name;
    // Liveness: known from `online`, or unknown until kOnlineGrace has gone.
    enum class Live { Unknown, Online, Offline } live = Live::Unknown;
    HubTime liveSince;  // when the hub learnt the present liveness
    HubTime firstHeard;
    HubTime lastHeard;
    std::array<std::optional<UnitDoc>, 16> units;
    std::optional<BusDoc> bus;
    std::uint64_t invalid = 0;  // payloads dropped
    std::string lastInvalid;    // why the latest was dropped
    HubTime lastInvalidAt;
    std::uint64_t lastEventSeq = 0;
    std::uint64_t version = 0;  // grows with every change the page shows

    bool online() const { return live == Live::Online; }
    Worst worst() const;
    // When the worst thing began: a contract time or the hub's.
    std::string worstSince() const;
};

struct Counts {
    std::size_t online = 0;
    std::size_t offline = 0;
    std::size_t running = 0;
    std::size_t failed = 0;
    std::size_t busesLost = 0;
};

struct TableStats {
    std::uint64_t messages = 0;
    std::uint64_t invalid = 0;           // payloads or topics dropped
    std::uint64_t refusedNewSites = 0;   // past --max-sites
};

class SiteTable {
public:
    // Told once when a message is dropped because the table is full.
    explicit SiteTable(std::size_t maxSites = kDefaultMaxSites, Journal journal = {});

    // What one message did.
    struct Taken {
        bool accepted = false;
        const Site* site = nullptr;  // the site it was for, when there is one
        std::optional<SitePayload> payload;
        bool refused = false;  // a new site past the bound: told once, by the table
        bool news = false;  // a unit or the bus means something new (not a repeat)
        std::string why;  // why it was dropped
        std::optional<SiteTopic> alarm;  // an alarm topic: the alarm book's, not the table's
    };
    Taken take(std::string_view prefix, std::string_view topic, std::string_view payload,
               const HubTime& now);

    // Sites whose online grace ran out are offline from then; returns how many changed.
    std::size_t tick(const HubTime& now);

    const Site* find(const std::string& name) const;
    // Drops a site (an operator's "forget"): it comes back if it speaks again.
    void forget(const std::string& name) { m_sites.erase(name); }
    const std::map<std::string, Site, std::less<>>& sites() const { return m_sites; }
    // Worst first, then by name.
    std::vector<const Site*> ordered() const;
    Counts counts() const;
    const TableStats& stats() const { return m_stats; }
    std::size_t maxSites() const { return m_max; }

private:
    std::map<std::string, Site, std::less<>> m_sites;
    std::size_t m_max;
    Journal m_journal;
    bool m_toldFull = false;
    TableStats m_stats;
};

// The JSON the page and /api read; every text is quoted and escaped.
std::string siteJson(const Site& site, bool detail);
std::string countsJson(const Counts& c, const TableStats& s, std::size_t sites);
// The booth's own board as its web page reads it, from the contract fields
// alone (the page derives the colours): {"at","remote","noise","port",
// "port_since","units":[16]}, a unit never heard as absent. `at` is `now`
// while the site is online, else when the hub last heard it.
std::string siteBoardJson(const Site& site, const HubTime& now);

}  // namespace lw::hub
