// linewarden-replay: runs a captured bus through the monitor core, headless.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/capturefile.h"
#include "tools/replay.h"
#include "tools/toolsupport.h"

namespace {

constexpr std::string_view kUsage =
    "usage: linewarden-replay CAPTURE [--software-version TEXT] [--log FILE] [--raw] [--noise]\n"
    "                         [--activity] [--names FILE] [--board FILE] [--events FILE]\n"
    "                         [--retained FILE] [--until MS]\n"
    "\n"
    "Runs a bus capture through the monitor on a virtual timeline, as fast as it can.\n"
    "  --software-version TEXT  the software version choice (default: the capture's, else "
    "HUBQV-2)\n"
    "  --log FILE               append activity records to FILE\n"
    "  --raw --noise --activity switch on raw blocks, noise records, unit activity\n"
    "  --names FILE             unit names file to read (never written)\n"
    "  --board FILE             one JSON line per decoder tick ('-' for standard output)\n"
    "  --events FILE            one JSON line per unit or bus event ('-' for standard output)\n"
    "  --retained FILE          a line 'unit/N JSON' or 'bus JSON' whenever a unit's or the\n"
    "                           bus's meaning changes, as MQTT retains them\n"
    "  --until MS               stop after the decoder tick at MS (rounded up to 800;\n"
    "                           at most 8640000000, 100 days, as for capture offsets)\n"
    "Exit status: 0 done, 1 records could not be written, 2 bad arguments or capture.\n";

int usageError(const std::string& msg) {
    return lw::tools::usageError("linewarden-replay", msg, kUsage);
}

}  // namespace

int main(int argc, char** argv) {
    lw::tools::ArgReader args(argc, argv);
    lw::ReplayOptions opt;
    std::string capturePath;
    std::string boardPath;
    std::string eventsPath;
    std::string retainedPath;
    bool haveCapture = false;

    while (args.next()) {
        const std::string& a = args.current();
        auto value = [&](std::string& out) {
            const auto v = args.value();
            if (v) out = *v;
            return v.has_value();
        };
        std::string v;
        if (auto done = lw::tools::standardAnswer(a, "linewarden-replay", kUsage)) return *done;
        if (a == "--raw") {
            opt.raw = true;
        } else if (a == "--noise") {
            opt.noise = true;
        } else if (a == "--activity") {
            opt.activity = true;
        } else if (a == "--software-version") {
            if (!value(v)) return usageError("--software-version needs a value");
            opt.softwareVersion = v;
        } else if (a == "--log") {
            if (!value(opt.logPath) || opt.logPath.empty()) return usageError("--log needs a file");
        } else if (a == "--names") {
            if (!value(v)) return usageError("--names needs a file");
            opt.namesPath = v;
        } else if (a == "--board") {
            if (!value(boardPath) || boardPath.empty()) return usageError("--board needs a file");
        } else if (a == "--events") {
            if (!value(eventsPath) || eventsPath.empty()) return usageError("--events needs a file");
        } else if (a == "--retained") {
            if (!value(retainedPath) || retainedPath.empty()) {
                return usageError("--retained needs a file");
            }
        } else if (a == "--until") {
            if (!value(v) || v.empty() || v.find_first_not_of("0123456789") != std::string::npos) {
                return usageError("--until needs a number of milliseconds");
            }
            std::int64_t ms = 0;
            if (!lw::parseDecimal(v, ms) || ms > lw::kMaxTimelineMs) {
                return usageError("--until is at most " + std::to_string(lw::kMaxTimelineMs) +
                                  " ms (100 days)");
            }
            opt.untilMs = ms;
        } else if (a.starts_with("--")) {
            return usageError("unknown option " + a);
        } else if (!haveCapture) {
            capturePath = a;
            haveCapture = true;
        } else {
            return usageError("only one capture file");
        }
    }
    if (!haveCapture) return usageError("no capture file");

    std::ifstream in(capturePath, std::ios::binary);
    if (!in) {
        std::cerr << "linewarden-replay: cannot read " << capturePath << "\n";
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = lw::parseCapture(text.str());
    if (!parsed.ok) {
        std::cerr << capturePath << ":" << parsed.line << ": " << parsed.error << "\n";
        return 2;
    }
    const lw::Capture& capture = parsed.value;

    std::ofstream boardFile;
    std::ostream* board = nullptr;
    if (boardPath == "-") {
        board = &std::cout;
    } else if (!boardPath.empty()) {
        boardFile.open(boardPath, std::ios::binary | std::ios::trunc);
        if (!boardFile) {
            std::cerr << "linewarden-replay: cannot write " << boardPath << "\n";
            return 1;
        }
        board = &boardFile;
    }

    std::ofstream eventsFile;
    std::ofstream retainedFile;
    // '-' is standard output; a file is made afresh.
    auto openOut = [](const std::string& path, std::ofstream& file) -> std::ostream* {
        if (path == "-") return &std::cout;
        file.open(path, std::ios::binary | std::ios::trunc);
        if (!file) std::cerr << "linewarden-replay: cannot write " << path << "\n";
        return file ? &file : nullptr;
    };
    if (!eventsPath.empty() && !(opt.events = openOut(eventsPath, eventsFile))) return 1;
    if (!retainedPath.empty() && !(opt.retained = openOut(retainedPath, retainedFile))) return 1;

    lw::FileLogSink sink;
    const lw::ReplayStats stats =
        lw::runReplay(capture, opt, sink, board, [](const lw::LogFailure& f) {
            std::cerr << "linewarden-replay: cannot write the log " << f.path << ": " << f.error
                      << "\n";
        });
    if (stats.undecodedBytes > 0) {
        std::cerr << "linewarden-replay: " << stats.undecodedBytes
                  << " bytes had arrived but were not decoded when the run ended (a tick reads "
                     "at most "
                  << lw::kReadCap << "); a later --until reads them\n";
    }
    if (board) board->flush();
    if (board && !*board) {
        std::cerr << "linewarden-replay: writing the board output failed\n";
        return 1;
    }
    if ((opt.events && !opt.events->flush()) || (opt.retained && !opt.retained->flush())) {
        std::cerr << "linewarden-replay: writing the events failed\n";
        return 1;
    }
    if (stats.recordsDropped > 0) {
        std::cerr << "linewarden-replay: " << stats.recordsDropped << " records not written\n";
        return 1;
    }
    return 0;
}
