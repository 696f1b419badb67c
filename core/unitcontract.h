#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reports.h"
#include "core/timesource.h"
#include "core/unitboard.h"

namespace lw {

// What every consumer of the monitor is told a unit and the bus mean, with
// how old that is: the board JSON, the web board and MQTT read these, never
// the board's texts and colours.

// Whether the monitor's bus port is open, lost (and being tried again) or
// closed on purpose.
enum class PortState : std::uint8_t { Open, Lost, Closed };

std::string_view stateName(UnitState state);  // "absent", "starting", ..., "failed"
std::string_view portName(PortState state);   // "open", "lost", "closed"

// One unit as the contract tells it.
struct UnitView {
    int unit = 0;  // 1 to 16
    std::string name;
    UnitState state = UnitState::Absent;
    bool interlock = false;
    std::string_view cause;  // "presence" or "motion" while failed, else empty
    std::string words;       // the board's state text ("HELP ME")
    std::string clock;       // the board's clock text
    ZonedTime since;         // when the unit entered this state
    std::optional<ZonedTime> showStarted;  // when the running show's clock started
};

struct BusView {
    bool remote = false;
    bool noise = false;
    PortState port = PortState::Closed;
    ZonedTime portSince;
};

// The whole board as the contract tells it, made at `at`.
struct BoardView {
    ZonedTime at;
    std::array<UnitView, kSlots> units;
    BusView bus;
};

// Bus and unit events; a unit event carries its unit, a bus event none.
enum class EventKind : std::uint8_t {
    Started,
    FeatureEnded,
    StoppedReady,
    Failed,
    PanicStop,
    Noise,
    BusLost,
    BusBack,
    LogFailed,  // the activity log cannot be written: told once a streak
};
std::string_view eventName(EventKind kind);

struct BoardEvent {
    std::uint64_t seq = 0;  // 1 for the first since the load
    EventKind kind = EventKind::Started;
    int unit = 0;  // 0: the bus
    std::string name;
    bool interlock = false;
    std::string_view cause;
    std::string clock;
    ZonedTime at;
    std::string text;  // what went wrong, for log_failed
};

// Follows the board from tick to tick for what its model does not keep: when
// each unit entered its state, when its show clock started, the port's state
// and since when; and turns the tick's reports into events.
class UnitTimeline {
public:
    void load(const UnitBoard& board, ZonedTime now);
    // Around each decoder tick: the clock counters before it tell a reset.
    void beforeTick(const UnitBoard& board);
    // The events the tick's reports made, complete from the board after it.
    std::vector<BoardEvent> afterTick(const UnitBoard& board, ZonedTime now);
    void report(ReportKind kind, const ReportPieces& pieces);
    void logFailed(std::string text);
    // A lost port gives bus_lost, one that comes back bus_back.
    std::optional<BoardEvent> port(PortState state, ZonedTime now);

    BoardView view(const UnitBoard& board) const;
    UnitView unitView(const UnitBoard& board, int n) const;

private:
    struct Times {
        UnitState state = UnitState::Absent;
        ZonedTime since;
        std::optional<ZonedTime> showStarted;
        std::int64_t countedBefore = 0;
    };
    struct Pending {
        EventKind kind;
        int unit;
        bool interlock;
        std::string text;
    };

    std::array<Times, kSlots> m_units;
    std::vector<Pending> m_pending;
    PortState m_port = PortState::Closed;
    ZonedTime m_portSince;
    ZonedTime m_at;
    std::uint64_t m_seq = 0;
};

}  // namespace lw
