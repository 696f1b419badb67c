#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lw::service {

// linewarden-monitor --new-token FILE [--http ADDR:PORT] [--https-cert ..]:
// writes a new random 256-bit token to FILE (a new file, mode 0600) and
// prints the address to open, then the program exits with the status
// returned. Without --new-token among `args`: nothing, and no status.
std::optional<int> newTokenCommand(const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err);

}  // namespace lw::service
