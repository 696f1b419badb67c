#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/timetext.h"

namespace lw {

// Bytes that arrived together, OFFSET milliseconds after the capture's start.
struct CaptureChunk {
    std::int64_t offset = 0;
    std::string bytes;
};

// A recorded bus: "LINEWARDEN-CAPTURE 1", headers, then "OFFSET HEX" lines.
struct Capture {
    CivilTime start;
    std::optional<std::string> version;
    std::optional<long> baud;
    std::vector<CaptureChunk> chunks;

    std::int64_t lastOffset() const { return chunks.empty() ? 0 : chunks.back().offset; }
};

// The capture in a text, or why not and on which line (1-based).
Result<Capture> parseCapture(std::string_view text);

inline constexpr std::string_view kCaptureMagic = "LINEWARDEN-CAPTURE 1";

// The longest timeline a capture or a replay may span: 100 days. Offsets and
// --until beyond it are refused, which keeps every tick sum far from overflow.
inline constexpr std::int64_t kMaxTimelineMs = 100LL * 24 * 60 * 60 * 1000;

// Why a version text cannot stand on a header line and read back the same
// (a CR or LF in it), or nothing. The parser and the recorder both ask.
std::optional<std::string> versionProblem(std::string_view text);

// Serialises a capture in the same format, for recorders and generators. The
// start year is 0 to 9999 and the version passes versionProblem(), as the
// parser requires; offsets are 0 to kMaxTimelineMs.
std::string headerText(const CivilTime& start, const std::optional<std::string>& version,
                       std::optional<long> baud);
std::string dataLine(std::int64_t offset, std::string_view bytes);

}  // namespace lw
