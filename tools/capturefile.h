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

// Serialises a capture in the same format, for recorders and generators.
std::string headerText(const CivilTime& start, const std::optional<std::string>& version,
                       std::optional<long> baud);
std::string dataLine(std::int64_t offset, std::string_view bytes);

}  // namespace lw
