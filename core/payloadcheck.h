#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// What a booth publishes, read back and checked field by field against the
// unit contract (docs/schema/): the hub trusts nothing a broker hands it.
namespace lw {

// Topic levels under PREFIX/SITE/.
// Alarm: the hub's own alarm documents, PREFIX/SITE/alarm/N|bus|site.
enum class SiteTopicKind { Online, Unit, Bus, Event, Record, Alarm };

struct SiteTopic {
    std::string site;
    SiteTopicKind kind = SiteTopicKind::Online;
    int unit = 0;  // 1 to 16 for unit/N
    std::string alarm;  // "1" to "16", "bus" or "site" for alarm/...
};

inline constexpr std::size_t kMaxSiteName = 64;
inline constexpr std::size_t kMaxPayload = 16 * 1024;
inline constexpr std::size_t kMaxRecordText = 1024;

// PREFIX/SITE/online|bus|event|record|unit/N|alarm/A, or nullopt (with why).
std::optional<SiteTopic> readSiteTopic(std::string_view prefix, std::string_view topic,
                                       std::string* why = nullptr);

// YYYY-MM-DDTHH:MM:SS[.fff]+HH:MM, as every contract time is written.
bool isContractTime(std::string_view text);

struct UnitDoc {
    int unit = 0;
    std::string name;
    std::string state;  // "absent" ... "failed"
    bool interlock = false;
    std::string cause;  // empty for null
    std::string words;
    std::string clock;
    std::string since;
    std::string showStarted;  // empty for null
    std::string at;
};

struct BusDoc {
    bool remote = false;
    bool noise = false;
    std::string port;  // "open", "lost", "closed"
    std::string portSince;
    std::string at;
};

struct EventDoc {
    std::string kind;
    int unit = 0;  // 0: a bus event
    std::string name;
    bool interlock = false;
    std::string cause;
    std::string clock;
    std::string at;
    std::uint64_t seq = 0;
    std::string text;
};

struct OnlineDoc {
    bool online = false;
};

struct RecordDoc {
    std::string text;  // the log record exactly
};

using SitePayload = std::variant<OnlineDoc, UnitDoc, BusDoc, EventDoc, RecordDoc>;

// The payload of a message on `topic`, checked, or nullopt with why not.
std::optional<SitePayload> readSitePayload(const SiteTopic& topic, std::string_view payload,
                                           std::string* why = nullptr);

}  // namespace lw
