#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"

namespace lw::service {

struct ServiceOptions;

// The files the service reads are small and regular: a device, a pipe or a
// folder named by mistake (/dev/zero, /dev/stdin) is refused with one line
// rather than read without end.
Result<> checkReadableFile(const std::string& path, const char* what, std::int64_t maxBytes);

// The whole of a file that passes checkReadableFile.
Result<std::string> readSmallFile(const std::string& path, const char* what, std::int64_t maxBytes);

// Every file the options name, checked before the service starts; a
// relative --device that exists here is taken from the current folder
// (else it stays a port name, which the serial layer looks up in /dev).
Result<> checkServiceFiles(ServiceOptions& options);

inline constexpr std::int64_t kMaxSecretFile = 4096;
inline constexpr std::int64_t kMaxConfigFile = 64 * 1024;
inline constexpr std::int64_t kMaxNamesFile = 64 * 1024;
inline constexpr std::int64_t kMaxCaFile = 1024 * 1024;

}  // namespace lw::service
