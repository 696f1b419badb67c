#pragma once

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/textutil.h"
#include "core/version.h"

namespace lw::tools {

// A bad command line: the reason, then the usage, and exit status 2.
inline int usageError(std::string_view tool, std::string_view msg, std::string_view usage) {
    std::cerr << tool << ": " << msg << "\n" << usage;
    return 2;
}

// At most 15 digits, so seconds can still be turned into milliseconds.
inline std::optional<std::int64_t> wholeNumber(std::string_view s) {
    std::int64_t v = 0;
    if (s.size() > 15 || !parseDecimal(s, v)) return std::nullopt;
    return v;
}

// --help (or -h) and --version, answered alike by every tool: the exit
// status when the argument is one of them.
inline std::optional<int> standardAnswer(std::string_view arg, std::string_view tool,
                                         std::string_view usage) {
    if (arg == "--help" || arg == "-h") {
        std::cout << usage;
        return 0;
    }
    if (arg == "--version") {
        std::cout << tool << ' ' << kProgramVersion << '\n';
        return 0;
    }
    return std::nullopt;
}

// A tool's command line, one argument at a time; an option takes the
// argument after it as its value.
class ArgReader {
public:
    ArgReader(int argc, char** argv) : m_args(argv + 1, argv + argc) {}

    // Moves to the next argument; false when none is left.
    bool next() { return ++m_at < m_args.size(); }
    const std::string& current() const { return m_args[m_at]; }

    // The current option's value, nothing when the line ends first.
    std::optional<std::string> value() {
        if (m_at + 1 >= m_args.size()) return std::nullopt;
        return m_args[++m_at];
    }
    // The value as a whole number (see wholeNumber).
    std::optional<std::int64_t> number() {
        const auto v = value();
        return v ? wholeNumber(*v) : std::nullopt;
    }

private:
    std::vector<std::string> m_args;
    std::size_t m_at = static_cast<std::size_t>(-1);
};

}  // namespace lw::tools
