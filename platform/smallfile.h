#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"

namespace lw {

// The files the programs read are small and regular: a device, a pipe or a
// folder named by mistake (/dev/zero, /dev/stdin) is refused with one line
// rather than read without end. `what` names it in that line ("the token
// file").
Result<> checkReadableFile(const std::string& path, const char* what, std::int64_t maxBytes);

// The whole of a file that passes checkReadableFile.
Result<std::string> readSmallFile(const std::string& path, const char* what, std::int64_t maxBytes);

// The whole of a file that holds secrets for the program alone: as
// readSmallFile, and refused when its group or others may read or write it
// (on POSIX; mode & 077 must be 0), saying the chmod that mends it.
Result<std::string> readPrivateFile(const std::string& path, const char* what,
                                    std::int64_t maxBytes);

inline constexpr std::int64_t kMaxSecretFile = 4096;
inline constexpr std::int64_t kMaxConfigFile = 64 * 1024;
inline constexpr std::int64_t kMaxNamesFile = 64 * 1024;
inline constexpr std::int64_t kMaxCaFile = 1024 * 1024;

}  // namespace lw
