#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"
#include "net/web/actiongate.h"

namespace lw::web {

inline constexpr std::int64_t kMaxOperatorFile = 64 * 1024;

// The operators' tokens from their file, which only its owner may read or
// write: any refusal is one line naming the file (and the line at fault).
Result<OperatorTokens> readOperatorTokens(const std::string& path);

}  // namespace lw::web
