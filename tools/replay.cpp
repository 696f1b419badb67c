#include "tools/replay.h"

#include <algorithm>
#include <ostream>

#include "core/beeper.h"
#include "core/boardjson.h"
#include "core/contractjson.h"
#include "core/namesfile.h"
#include "core/timetext.h"

namespace lw {

namespace {

constexpr std::int64_t kDecoderMs = kDecoderTick.count();
constexpr std::int64_t kClockMs = kClockTick.count();
constexpr std::int64_t kBlinkMs = kBlinkTick.count();

// The bus port as the capture saw it: bytes become readable at their offset,
// at most a receive buffer's worth per read.
class CapturePort final : public TimedInput {
public:
    explicit CapturePort(const Capture& c) : m_cap(c) {}

    void setNow(std::int64_t t) override { m_now = t; }

    std::string input() override {
        std::string out;
        const auto& chunks = m_cap.chunks;
        while (m_chunk < chunks.size() && chunks[m_chunk].offset <= m_now &&
               out.size() < kReadCap) {
            const std::string& b = chunks[m_chunk].bytes;
            const std::size_t take = std::min(b.size() - m_pos, kReadCap - out.size());
            out.append(b, m_pos, take);
            m_pos += take;
            if (m_pos == b.size()) {
                ++m_chunk;
                m_pos = 0;
            }
        }
        return out;
    }

    std::uint64_t waiting() const override {
        std::uint64_t n = 0;
        for (std::size_t i = m_chunk; i < m_cap.chunks.size() && m_cap.chunks[i].offset <= m_now;
             ++i) {
            n += m_cap.chunks[i].bytes.size();
        }
        return n - m_pos;  // a chunk begun has arrived
    }

private:
    const Capture& m_cap;
    std::int64_t m_now = 0;
    std::size_t m_chunk = 0;
    std::size_t m_pos = 0;
};

class CountingBeeper final : public Beeper {
public:
    void beep() override { ++count; }
    std::uint64_t count = 0;
};

static_assert(kMaxTimelineMs % kDecoderMs == 0);

// Clamped to the bound first, so the rounding cannot overflow.
std::int64_t roundUpToTick(std::int64_t ms) {
    if (ms <= 0) return 0;
    ms = std::min(ms, kMaxTimelineMs);
    const std::int64_t whole = ms / kDecoderMs * kDecoderMs;
    return whole == ms ? ms : whole + kDecoderMs;
}

}  // namespace

std::int64_t replayEnd(const Capture& capture, std::optional<std::int64_t> untilMs) {
    if (untilMs) return roundUpToTick(*untilMs);
    return std::max(kDecoderMs, roundUpToTick(capture.lastOffset()));
}

ReplayStats runReplay(const Capture& capture, const ReplayOptions& opt, LogSink& sink,
                      std::ostream* board, std::function<void(const LogFailure&)> onLogFailure) {
    CapturePort port(capture);
    Timeline line;
    line.start = capture.start;
    line.version = opt.softwareVersion ? *opt.softwareVersion
                                       : capture.version.value_or(std::string(kDefaultVersion));
    line.end = replayEnd(capture, opt.untilMs);
    return runTimeline(port, line, opt, sink, board, std::move(onLogFailure));
}

ReplayStats runTimeline(TimedInput& port, const Timeline& line, const ReplayOptions& opt,
                        LogSink& sink, std::ostream* board,
                        std::function<void(const LogFailure&)> onLogFailure) {
    DiscardLogSink discard;
    LogOptions logOptions;
    logOptions.rawdata = opt.raw ? 1 : 0;
    logOptions.busnoise = opt.noise ? 1 : 0;
    logOptions.unitactivity = opt.activity ? 1 : 0;
    logOptions.logpath = opt.logPath;

    const std::string& version = line.version;
    ManualTime clock(line.start);
    CountingBeeper beeper;
    LogSink& logTo = opt.logPath.empty() ? static_cast<LogSink&>(discard) : sink;
    auto names = [&opt](UnitNames& captions) {
        if (opt.namesPath) readNamesFile(*opt.namesPath, captions);  // read only, never written
        return Result<>{};
    };
    MonitorSession session(SessionDeps{.port = port,
                                       .time = clock,
                                       .beeper = beeper,
                                       .sink = logTo,
                                       .logOptions = [&logOptions] { return logOptions; },
                                       .versionChoice = [&version] { return version; },
                                       .onLogFailure = std::move(onLogFailure),
                                       .names = names});

    if (opt.events) {
        session.setEventObserver([&opt](const BoardEvent& e) { *opt.events << eventJson(e) << '\n'; });
    }

    MeaningTracker meaning;
    auto retain = [&opt, &meaning, &session] {
        if (!opt.retained) return;
        for (const RetainedDoc& d : meaning.update(session.view())) {
            *opt.retained << (d.unit ? "unit/" + std::to_string(d.unit) : std::string("bus")) << ' '
                          << d.json << '\n';
        }
    };

    // t = 0: the board loads with the port closed, then the port opens.
    std::uint64_t tick = 0;
    port.setOpen(false);
    session.load();
    if (board) *board << boardJson(tick, 0, session.board(), beeper.count, session.view());
    retain();
    port.setOpen(true);
    session.portChanged(PortState::Open);

    ReplayStats stats;
    const std::int64_t end = std::min(line.end, kMaxTimelineMs);
    // 50 ms divides every timer period; at one instant the clock goes first,
    // then the blink, then the decoder.
    for (std::int64_t t = 50; t <= end; t += 50) {
        const bool clockDue = t % kClockMs == 0;
        const bool blinkDue = t % kBlinkMs == 0;
        const bool decoderDue = t % kDecoderMs == 0;
        if (!clockDue && !blinkDue && !decoderDue) continue;
        clock.setOffset(t);
        if (clockDue) session.clockTick();
        if (blinkDue) session.blinkTick();
        if (decoderDue) {
            port.setNow(t);
            const std::uint64_t before = beeper.count;
            session.decoderTick();
            ++tick;
            if (board) {
                *board << boardJson(tick, t, session.board(), beeper.count - before,
                                    session.view());
            }
            retain();
            if (line.afterTick) line.afterTick(t, session.monitor());
        }
    }
    stats.decoderTicks = tick;
    stats.recordsWritten = session.reports().written();
    stats.recordsDropped = session.reports().dropped();
    stats.beeps = beeper.count;
    stats.undecodedBytes = port.waiting();
    return stats;
}

}  // namespace lw
