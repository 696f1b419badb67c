#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "core/busport.h"
#include "core/busprotocol.h"
#include "core/monitorsession.h"
#include "core/reports.h"
#include "tools/capturefile.h"

namespace lw {

struct UnitBoard;

struct ReplayOptions {
    std::optional<std::string> softwareVersion;  // overrides the capture's
    std::string logPath;                         // empty: records go nowhere
    bool raw = false;
    bool noise = false;
    bool activity = false;
    std::optional<std::string> namesPath;  // read only, never written
    std::optional<std::int64_t> untilMs;   // 0 to kMaxTimelineMs
    std::ostream* events = nullptr;        // one JSON line per unit or bus event
    // "unit/N JSON" or "bus JSON" per retained document whose meaning changed,
    // as MQTT publishes them.
    std::ostream* retained = nullptr;
};

struct ReplayStats {
    std::uint64_t decoderTicks = 0;
    std::uint64_t recordsWritten = 0;
    std::uint64_t recordsDropped = 0;
    std::uint64_t beeps = 0;
    // Bytes that had arrived by the end but were never read: a tick reads at
    // most a receive buffer's worth.
    std::uint64_t undecodedBytes = 0;
};

// A bus port on a virtual timeline: input() hands out what arrived up to the
// time last set, at most a receive buffer's worth a read.
class TimedInput : public BusInput {
public:
    virtual void setNow(std::int64_t t) = 0;
    // Bytes that have arrived by the time last set and not been read yet.
    virtual std::uint64_t waiting() const { return 0; }
    void setOpen(bool open) { m_open = open; }
    bool portOpen() const override { return m_open; }

private:
    bool m_open = false;
};

class BusMonitor;

struct Timeline {
    CivilTime start;
    std::string version{kDefaultVersion};
    std::int64_t end = 0;  // the last decoder tick, ms; at most kMaxTimelineMs
    // Called after every decoder tick, for long runs that watch the monitor.
    std::function<void(std::int64_t t, const BusMonitor&)> afterTick;
};

// Runs any timed input through the monitor exactly as a replay does.
ReplayStats runTimeline(TimedInput& port, const Timeline& line, const ReplayOptions& options,
                        LogSink& sink, std::ostream* board,
                        std::function<void(const LogFailure&)> onLogFailure = {});

// The last decoder tick of a replay, in milliseconds, never past
// kMaxTimelineMs.
std::int64_t replayEnd(const Capture& capture, std::optional<std::int64_t> untilMs);

// Runs the capture through the monitor on a virtual timeline. `board`, when
// given, receives one JSON line for the load and for every decoder tick.
ReplayStats runReplay(const Capture& capture, const ReplayOptions& options, LogSink& sink,
                      std::ostream* board,
                      std::function<void(const LogFailure&)> onLogFailure = {});

}  // namespace lw
