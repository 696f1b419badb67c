#include "platform/processstats.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifdef __linux__
#include <unistd.h>
#endif

namespace lw {

#ifdef __linux__

namespace {

// The seconds since the epoch at which the machine booted.
std::optional<double> bootTime() {
    std::ifstream in("/proc/stat");
    std::string key;
    double value = 0;
    while (in >> key) {
        if (key == "btime" && in >> value) return value;
        in.ignore(1 << 16, '\n');
    }
    return std::nullopt;
}

std::optional<double> softFdLimit() {
    std::ifstream in("/proc/self/limits");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Max open files", 0) != 0) continue;
        std::istringstream fields(line.substr(14));
        double soft = 0;
        if (fields >> soft) return soft;
    }
    return std::nullopt;
}

}  // namespace

std::optional<prometheus::ProcessSample> readProcessSample() {
    std::ifstream in("/proc/self/stat");
    std::string stat;
    std::getline(in, stat);
    // The command name in parentheses may hold blanks: fields count from after it.
    const auto close = stat.rfind(')');
    const auto boot = bootTime();
    if (close == std::string::npos || !boot) return std::nullopt;
    std::istringstream fields(stat.substr(close + 2));
    std::string f[22];  // fields 3 (state) to 24 (rss)
    for (auto& x : f) {
        if (!(fields >> x)) return std::nullopt;
    }
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    prometheus::ProcessSample p;
    p.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / ticks;  // utime, stime
    p.startTime = *boot + std::stod(f[19]) / ticks;                // starttime
    p.virtualBytes = std::stod(f[20]);                             // vsize
    p.residentBytes = std::stod(f[21]) * page;                     // rss
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++p.openFds;
    }
    p.openFds -= 1;  // the directory being listed
    p.maxFds = softFdLimit();
    return p;
}

#else

std::optional<prometheus::ProcessSample> readProcessSample() { return std::nullopt; }

#endif

}  // namespace lw
