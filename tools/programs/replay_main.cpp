// linewarden-replay: runs a captured bus through the monitor core, headless.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/commandline.h"
#include "core/monitoroptions.h"
#include "core/textutil.h"
#include "tools/capturefile.h"
#include "tools/replay.h"

namespace {

constexpr std::string_view kName = "linewarden-replay";

// The monitor options, then where the board goes and when the run stops.
struct ReplayLine : lw::ReplayOptions {
    std::string capturePath;
    std::string boardPath;
};

const lw::cli::OptionTable<ReplayLine>& optionTable() {
    static const lw::cli::OptionTable<ReplayLine> table = [] {
        lw::cli::OptionTable<ReplayLine> t;
        lw::addMonitorOptions(t);
        t.push_back(lw::cli::textOption<ReplayLine>(
            "board", "FILE", &ReplayLine::boardPath,
            "one JSON line per decoder tick ('-' for standard output)"));
        t.push_back({"until", "MS",
                     "stop after the decoder tick at MS (rounded up to 800;\n"
                     "at most 8640000000, 100 days, as for capture offsets)",
                     [](ReplayLine& o, const std::string& v) {
                         std::int64_t ms = 0;
                         if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) {
                             return lw::Result<>::failure("--until needs a number of milliseconds");
                         }
                         if (!lw::parseDecimal(v, ms) || ms > lw::kMaxTimelineMs) {
                             return lw::Result<>::failure("--until is at most " +
                                                          std::to_string(lw::kMaxTimelineMs) +
                                                          " ms (100 days)");
                         }
                         o.untilMs = ms;
                         return lw::Result<>{};
                     }});
        return t;
    }();
    return table;
}

const std::string& usage() {
    static const std::string text = lw::cli::usageText(
        kName, "CAPTURE [OPTION]...",
        "Runs a bus capture through the monitor on a virtual timeline, as fast as it can;\n"
        "the software version defaults to the capture's.\n",
        optionTable(), "\nExit status: 0 done, 1 records could not be written, 2 bad arguments or capture.\n");
    return text;
}

int usageError(const std::string& msg) { return lw::cli::usageError(kName, msg, usage()); }

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (auto done = lw::cli::standardAnswer(args, kName, usage())) return *done;
    ReplayLine opt;
    bool haveCapture = false;
    const auto given = lw::cli::splitLine<ReplayLine>(
        args, optionTable(), [&](const std::string& a) {
            if (haveCapture) return lw::Result<>::failure("only one capture file");
            opt.capturePath = a;
            haveCapture = true;
            return lw::Result<>{};
        });
    if (!given.ok) return usageError(given.error);
    const lw::Result<> applied = lw::cli::apply(given.value, opt);
    if (!applied.ok) return usageError(applied.error);
    if (!haveCapture) return usageError("no capture file");
    const std::string& capturePath = opt.capturePath;
    const std::string& boardPath = opt.boardPath;

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
    if (stats.recordsDropped > 0) {
        std::cerr << "linewarden-replay: " << stats.recordsDropped << " records not written\n";
        return 1;
    }
    return 0;
}
