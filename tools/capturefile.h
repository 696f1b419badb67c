#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

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

struct CaptureError {
    int line = 0;  // 1-based; the line at fault
    std::string message;
};

std::variant<Capture, CaptureError> parseCapture(std::string_view text);

inline constexpr std::string_view kCaptureMagic = "LINEWARDEN-CAPTURE 1";

// Serialises a capture in the same format, for recorders and generators.
std::string headerText(const CivilTime& start, const std::optional<std::string>& version,
                       std::optional<long> baud);
std::string dataLine(std::int64_t offset, std::string_view bytes);

}  // namespace lw
