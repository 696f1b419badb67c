// linewarden-report: the night at a glance, from activity logs or captures.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/activitylog.h"
#include "core/commandline.h"
#include "core/nightreport.h"
#include "core/textutil.h"
#include "tools/capturefile.h"
#include "tools/replay.h"

namespace {

constexpr std::string_view kTool = "linewarden-report";
constexpr std::string_view kUsage =
    "usage: linewarden-report [LOG...] [-o FILE] [--night DATE | --from T --to T] [--json]\n"
    "                         [--title TEXT]\n"
    "\n"
    "Turns activity logs (or bus captures) into a one-page report of a night.\n"
    "  LOG...          activity logs, read in this order; a bus capture is replayed\n"
    "                  with every kind of record on (default: kx40buss.txt)\n"
    "  -o FILE         write the report to FILE (default: standard output)\n"
    "  --night DATE    the night that begins at noon on DATE (YYYY-MM-DD);\n"
    "                  default: the last night in the input\n"
    "  --from T --to T any stretch, T as YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS]\n"
    "  --json          the facts as JSON instead of the page\n"
    "  --title TEXT    the page's heading, such as the site's name\n"
    "Exit status: 0 written; 2 bad arguments, an input that cannot be read or an\n"
    "output that cannot be written.\n";

int fail(const std::string& msg) {
    std::cerr << kTool << ": " << msg << "\n";
    return 2;
}

// Records as the monitor would append them, straight into the reader.
class ReaderSink final : public lw::LogSink {
public:
    explicit ReaderSink(lw::ActivityLogReader& reader) : m_reader(reader) {}
    lw::Result<> append(const std::string&, std::string_view record) override {
        m_reader.feed(record);
        return {};
    }

private:
    lw::ActivityLogReader& m_reader;
};

// A capture's first line other than comments is its magic; only the file's
// head is looked at, so a log with no line end in sight is not read twice.
bool isCapture(const std::string& path) {
    std::ifstream in(lw::pathFromUtf8(path), std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        return line == lw::kCaptureMagic;
    }
    return false;
}

lw::Result<> readCapture(const std::string& path, lw::ActivityLogReader& reader) {
    std::ifstream in(lw::pathFromUtf8(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = lw::parseCapture(text.str());
    if (!parsed.ok) {
        return lw::Result<>::failure(path + ":" + std::to_string(parsed.line) + ": " +
                                     parsed.error);
    }
    lw::ReplayOptions opt;
    opt.logPath = path;
    opt.raw = opt.noise = opt.activity = true;
    ReaderSink sink(reader);
    reader.begin(path);
    lw::runReplay(parsed.value, opt, sink, nullptr);
    reader.end();
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    lw::cli::ArgReader args(argc, argv);
    if (auto done = lw::cli::standardAnswer(args.all(), kTool, kUsage)) return *done;
    std::vector<std::string> inputs;
    std::string outPath, title;
    bool json = false;
    std::optional<lw::LogTime> night, from, to;

    while (args.next()) {
        const std::string& a = args.current();
        auto timeValue = [&](std::optional<lw::LogTime>& out, bool dateOnly) {
            const auto v = args.value();
            if (!v || (dateOnly && v->size() != 10)) return false;
            out = lw::parseReportTime(*v);
            return out.has_value();
        };
        if (a == "-o") {
            const auto v = args.value();
            if (!v || v->empty()) return fail("-o needs a file");
            outPath = *v;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--title") {
            const auto v = args.value();
            if (!v) return fail("--title needs a text");
            title = *v;
        } else if (a == "--night") {
            if (!timeValue(night, true)) return fail("--night needs a date, YYYY-MM-DD");
        } else if (a == "--from") {
            if (!timeValue(from, false))
                return fail("--from needs a time, YYYY-MM-DD[THH:MM[:SS]]");
        } else if (a == "--to") {
            if (!timeValue(to, false)) return fail("--to needs a time, YYYY-MM-DD[THH:MM[:SS]]");
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a + " (--help lists them)");
        } else {
            inputs.push_back(a);
        }
    }
    if (night && (from || to)) return fail("--night and --from/--to exclude each other");
    if (from.has_value() != to.has_value()) return fail("--from and --to go together");
    if (from && *to <= *from) return fail("--to must come after --from");
    if (inputs.empty()) inputs.push_back("kx40buss.txt");

    lw::NightWindow window;
    if (night) {
        window.from = *night + lw::kNoon;
        window.to = *night + lw::kNoon + lw::kDay;
    } else if (from) {
        window.from = from;
        window.to = to;
    }
    lw::NightModel model(window);
    lw::ActivityLogReader reader([&](const lw::LogRecord& r) { model.add(r); });
    for (const std::string& path : inputs) {
        std::error_code ec;
        std::ifstream probe(lw::pathFromUtf8(path), std::ios::binary);
        if (!probe || std::filesystem::is_directory(lw::pathFromUtf8(path), ec)) {
            return fail("cannot read " + path);
        }
        const lw::Result<> r =
            isCapture(path) ? readCapture(path, reader) : lw::readLogFile(path, reader);
        if (!r.ok) return fail(r.error);
    }
    const lw::NightFacts facts = model.finish();
    const lw::ReportInput in{facts, reader.stats(), title};
    const std::string report = json ? lw::renderJson(in) : lw::renderHtml(in);

    if (outPath.empty()) {
        std::cout << report;
        std::cout.flush();
        return std::cout ? 0 : fail("cannot write the report");
    }
    std::ofstream out(lw::pathFromUtf8(outPath), std::ios::binary | std::ios::trunc);
    out << report;
    out.close();
    if (!out) return fail("cannot write " + outPath);
    return 0;
}
