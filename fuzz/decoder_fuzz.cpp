// The decoder tick over many ticks, all log options on, clock and blink ticks
// between, as the board runs it. Every byte read is either in a raw block
// record or still collected; state stays bounded; every record is whole.
//
// Input: one byte picks the software version, then per decoder tick a length
// byte and that many bus bytes. Lengths 0..127 are themselves, 128..254 step
// by 9 up to a full receive buffer, 255 is a tick with the port closed.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/busmonitor.h"
#include "core/busprotocol.h"
#include "core/reports.h"
#include "fuzz/fuzzcheck.h"
#include "tools/replay.h"

namespace {

constexpr std::int64_t kDecoderMs = lw::kDecoderTick.count();

// Every version on the list, and one text that is on none (case matters).
std::string versionOf(std::uint8_t pick) {
    const std::size_t i = pick % (lw::kVersions.size() + 1);
    return i < lw::kVersions.size() ? std::string(lw::kVersions[i]) : std::string("hub7");
}

constexpr std::uint8_t kClosedTick = 0xFF;

struct Tick {
    bool open = true;
    std::string bytes;
};

std::vector<Tick> splitTicks(const std::uint8_t* data, std::size_t size) {
    std::vector<Tick> ticks;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t len = data[i++];
        Tick tick;
        if (len == kClosedTick) {
            tick.open = false;
        } else {
            std::size_t n = len < 0x80 ? len : std::size_t{len - 0x7Fu} * 9;
            n = std::min({n, lw::kReadCap, size - i});
            tick.bytes.assign(reinterpret_cast<const char*>(data + i), n);
            i += n;
        }
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

// Hands out one tick's bytes at each decoder tick; closes the port for the
// ticks that say so.
class TickInput final : public lw::TimedInput {
public:
    explicit TickInput(const std::vector<Tick>& ticks) : m_ticks(ticks) {}

    void setNow(std::int64_t t) override {
        const auto k = static_cast<std::size_t>(t / kDecoderMs) - 1;
        m_pending = k < m_ticks.size() ? &m_ticks[k] : nullptr;
        setOpen(m_pending == nullptr || m_pending->open);
    }
    std::string input() override {
        std::string out = m_pending ? m_pending->bytes : std::string();
        m_pending = nullptr;
        delivered += out;
        return out;
    }

    std::string delivered;

private:
    const std::vector<Tick>& m_ticks;
    const Tick* m_pending = nullptr;
};

// Checks the shape of every record; keeps the raw bytes of raw blocks.
class CheckingSink final : public lw::LogSink {
public:
    lw::Result<> append(const std::string&, std::string_view r) override {
        static const std::string rule = "\r\n" + std::string(lw::kRule) + "\r\n";
        static const std::string bangs = "\r\n" + std::string(lw::kBangs) + "\r\n";
        LW_FUZZ_CHECK(r.ends_with(rule) || r.ends_with(bangs));
        if (r.starts_with("RAW COMM DATA LOG ")) {
            // The time and date hold no line break: the raw bytes follow the first.
            const std::size_t from = r.find("\r\n") + 2;
            LW_FUZZ_CHECK(r.ends_with(rule) && from + rule.size() <= r.size());
            raw.append(r.substr(from, r.size() - rule.size() - from));
        } else {
            LW_FUZZ_CHECK(r.starts_with("!!!!!!!!!!! PANIC STOP DETECTED ") ||
                          r.starts_with("***NOISE*** ") || r.starts_with("KX-40 #"));
        }
        return {};
    }

    std::string raw;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::set<std::string> texts = {" ",       "STARTING", "SHOW RUN", "CLOSING",
                                                "NO FILM", "READY",    "HELP ME"};
    const std::vector<Tick> ticks = splitTicks(data + 1, size - 1);
    TickInput port(ticks);
    CheckingSink sink;

    lw::Timeline line;
    line.start = {2002, 12, 31, 23, 59, 30, 0};  // the records' dates turn over mid-run
    line.version = versionOf(data[0]);
    line.end = static_cast<std::int64_t>(ticks.size() + 1) * kDecoderMs;
    std::string rawlog;
    line.afterTick = [&](std::int64_t t, const lw::MonitorSession& m) {
        const lw::DecoderState& d = m.decoder();
        LW_FUZZ_CHECK(d.rawlog.size() <= lw::kRawBlockLimit);
        LW_FUZZ_CHECK(d.busbuffer.size() <= 4 + lw::kReadCap);
        for (const lw::UnitSlot& s : m.board().slots) LW_FUZZ_CHECK(texts.contains(s.status));
        if (t == line.end) rawlog = d.rawlog;
    };
    lw::ReplayOptions opt;
    opt.logPath = "fuzz";
    opt.raw = opt.noise = opt.activity = true;
    const lw::ReplayStats stats = lw::runTimeline(port, line, opt, sink, nullptr);

    LW_FUZZ_CHECK(stats.decoderTicks == ticks.size() + 1);
    LW_FUZZ_CHECK(stats.recordsDropped == 0);
    std::string sent;
    for (const Tick& t : ticks) sent += t.bytes;
    LW_FUZZ_CHECK(port.delivered == sent);
    // Raw bytes in = raw bytes logged + still collected.
    LW_FUZZ_CHECK(sink.raw + rawlog == sent);
    return 0;
}
