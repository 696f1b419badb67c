#pragma once

#include <optional>

#include "core/prometheustext.h"

namespace lw {

// This process's CPU time, memory, start time and file descriptors as the
// standard process_* metrics want them; read from /proc, so nothing where
// there is none.
std::optional<prometheus::ProcessSample> readProcessSample();

}  // namespace lw
