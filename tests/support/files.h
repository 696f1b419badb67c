#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace lwtest {

// A whole file's bytes; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace lwtest
