#pragma once

#include <functional>
#include <string>

namespace lw {

// Where a program's one line per event goes (standard error, the journal
// under systemd): never one per tick.
using Journal = std::function<void(const std::string&)>;

}  // namespace lw
