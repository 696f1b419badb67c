// Capture parser: any text is refused with a line in range or read into a
// capture that stays within the timeline bound, writes back to a text that
// reads the same, and replays.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "tools/capturefile.h"
#include "tools/replay.h"

namespace {

constexpr std::int64_t kDecoderMs = lw::kDecoderTick.count();

class NullSink final : public lw::LogSink {
public:
    lw::Result<> append(const std::string&, std::string_view) override { return {}; }
};

// Short captures are replayed too; long ones would only repeat empty ticks.
constexpr std::int64_t kReplayedMs = 20'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = lw::parseCapture(text);
    if (!parsed.ok) {
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        LW_FUZZ_CHECK(parsed.line >= 1 && parsed.line <= lines + 1);
        LW_FUZZ_CHECK(!parsed.error.empty());
        return 0;
    }
    const lw::Capture& cap = parsed.value;
    std::int64_t last = 0;
    std::uint64_t bytes = 0;
    for (const lw::CaptureChunk& c : cap.chunks) {
        LW_FUZZ_CHECK(c.offset >= last && c.offset <= lw::kMaxTimelineMs);
        LW_FUZZ_CHECK(!c.bytes.empty());
        last = c.offset;
        bytes += c.bytes.size();
    }
    if (cap.version) LW_FUZZ_CHECK(!lw::versionProblem(*cap.version));

    // What the parser reads, the writer writes back unchanged.
    std::string written = lw::headerText(cap.start, cap.version, cap.baud);
    for (const lw::CaptureChunk& c : cap.chunks) written += lw::dataLine(c.offset, c.bytes);
    const auto again = lw::parseCapture(written);
    LW_FUZZ_CHECK(again.ok);
    const lw::Capture& back = again.value;
    LW_FUZZ_CHECK(back.start == cap.start);
    LW_FUZZ_CHECK(back.version == cap.version);
    LW_FUZZ_CHECK(back.baud == cap.baud);
    LW_FUZZ_CHECK(back.chunks.size() == cap.chunks.size());
    for (std::size_t i = 0; i < cap.chunks.size(); ++i) {
        LW_FUZZ_CHECK(back.chunks[i].offset == cap.chunks[i].offset);
        LW_FUZZ_CHECK(back.chunks[i].bytes == cap.chunks[i].bytes);
    }

    // The run ends at the first decoder tick at or after the last offset.
    const std::int64_t end = lw::replayEnd(cap, std::nullopt);
    LW_FUZZ_CHECK(end % kDecoderMs == 0 && end >= kDecoderMs);
    LW_FUZZ_CHECK(end >= cap.lastOffset() && end - cap.lastOffset() <= kDecoderMs);
    LW_FUZZ_CHECK(cap.lastOffset() < kDecoderMs || end - cap.lastOffset() < kDecoderMs);
    LW_FUZZ_CHECK(end <= lw::kMaxTimelineMs);

    if (end <= kReplayedMs) {
        lw::ReplayOptions opt;
        opt.logPath = "fuzz";
        opt.raw = opt.noise = opt.activity = true;
        NullSink sink;
        const lw::ReplayStats stats = lw::runReplay(cap, opt, sink, nullptr);
        LW_FUZZ_CHECK(stats.decoderTicks == static_cast<std::uint64_t>(end / kDecoderMs));
        LW_FUZZ_CHECK(stats.undecodedBytes <= bytes);
        LW_FUZZ_CHECK(stats.recordsDropped == 0);
    }
    return 0;
}
