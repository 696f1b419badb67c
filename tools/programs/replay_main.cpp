// linewarden-replay: runs a captured bus through the monitor core, headless.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/commandline.h"
#include "tools/capturefile.h"
#include "tools/replay.h"
#include "tools/replayoptions.h"

namespace {

constexpr std::string_view kName = "linewarden-replay";

int usageError(const std::string& msg) { return lw::cli::usageError(kName, msg, lw::replayUsage()); }

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (auto done = lw::cli::standardAnswer(args, kName, lw::replayUsage())) return *done;
    const auto line = lw::readReplayLine(args);
    if (!line.ok) return usageError(line.error);
    lw::ReplayLine opt = line.value;
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

    // '-' is standard output; a file is made afresh.
    auto openOut = [](const std::string& path, std::ofstream& file) -> std::ostream* {
        if (path == "-") return &std::cout;
        file.open(path, std::ios::binary | std::ios::trunc);
        if (!file) std::cerr << "linewarden-replay: cannot write " << path << "\n";
        return file ? &file : nullptr;
    };
    std::ofstream boardFile, eventsFile, retainedFile;
    std::ostream* board = nullptr;
    if (!boardPath.empty() && !(board = openOut(boardPath, boardFile))) return 1;
    if (!opt.eventsPath.empty() && !(opt.events = openOut(opt.eventsPath, eventsFile))) return 1;
    if (!opt.retainedPath.empty() && !(opt.retained = openOut(opt.retainedPath, retainedFile))) {
        return 1;
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
