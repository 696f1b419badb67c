#include "tools/capturefile.h"

#include <charconv>

#include "core/textutil.h"

namespace lw {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string fourDigits(int v) {
    std::string s = std::to_string(v);
    if (s.size() < 4) s.insert(0, 4 - s.size(), '0');
    return s;
}

}  // namespace

std::optional<std::string> versionProblem(std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return "version cannot hold a CR or LF";
    }
    return std::nullopt;
}

Result<Capture> parseCapture(std::string_view text) {
    Capture cap;
    bool sawMagic = false;
    bool sawStart = false;
    bool inData = false;
    int lineNo = 0;
    std::size_t pos = 0;
    auto fail = [&](std::string msg) { return Result<Capture>::failure(std::move(msg), lineNo); };

    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        if (!sawMagic) {
            if (line != kCaptureMagic) return fail("expected \"LINEWARDEN-CAPTURE 1\"");
            sawMagic = true;
            continue;
        }

        const std::size_t sp = line.find(' ');
        const std::string_view word = line.substr(0, sp);
        if (!inData && (word == "start" || word == "version" || word == "baud")) {
            if (sp == std::string_view::npos) return fail(std::string(word) + " needs a value");
            const std::string_view value = line.substr(sp + 1);
            if (word == "start") {
                if (sawStart) return fail("start given twice");
                const auto t = parseIsoLocal(value);
                if (!t) return fail("start must be YYYY-MM-DDTHH:MM:SS");
                cap.start = *t;
                sawStart = true;
            } else if (word == "version") {
                if (cap.version) return fail("version given twice");
                if (auto problem = versionProblem(value)) return fail(*problem);
                cap.version = std::string(value);
            } else {
                long baud = 0;
                if (cap.baud) return fail("baud given twice");
                if (!parseDecimal(value, baud) || baud <= 0) return fail("baud must be a number");
                cap.baud = baud;
            }
            continue;
        }

        // A data line: OFFSET, blanks, HEX.
        std::size_t i = 0;
        while (i < line.size() && !isBlank(line[i])) ++i;
        const std::string_view offsetText = line.substr(0, i);
        while (i < line.size() && isBlank(line[i])) ++i;
        const std::string_view hex = line.substr(i);
        std::int64_t offset = 0;
        if (!parseDecimal(offsetText, offset) || hex.empty() ||
            hex.find_first_of(" \t") != std::string_view::npos) {
            return fail("expected a header or a data line \"OFFSET HEX\"");
        }
        if (!sawStart) return fail("data before the start header");
        if (offset > kMaxTimelineMs) {
            return fail("offset beyond " + std::to_string(kMaxTimelineMs) + " ms (100 days)");
        }
        if (offset < cap.lastOffset()) return fail("offset goes back in time");
        if (hex.size() % 2 != 0) return fail("odd number of hex digits");
        CaptureChunk chunk;
        chunk.offset = offset;
        chunk.bytes.reserve(hex.size() / 2);
        for (std::size_t k = 0; k < hex.size(); k += 2) {
            const int hi = hexValue(hex[k]);
            const int lo = hexValue(hex[k + 1]);
            if (hi < 0 || lo < 0) return fail("not a hex digit");
            chunk.bytes += static_cast<char>(hi * 16 + lo);
        }
        cap.chunks.push_back(std::move(chunk));
        inData = true;
    }
    ++lineNo;
    if (!sawMagic) return fail("empty capture: expected \"LINEWARDEN-CAPTURE 1\"");
    if (!sawStart) return fail("missing start header");
    return Result<Capture>::success(std::move(cap));
}

std::string headerText(const CivilTime& s, const std::optional<std::string>& version,
                       std::optional<long> baud) {
    std::string out(kCaptureMagic);
    out += "\nstart " + fourDigits(s.year) + '-' + twoDigits(s.month) + '-' + twoDigits(s.day) +
           'T' + twoDigits(s.hour) + ':' + twoDigits(s.minute) + ':' + twoDigits(s.second) + '\n';
    if (version) out += "version " + *version + '\n';
    if (baud) out += "baud " + std::to_string(*baud) + '\n';
    return out;
}

std::string dataLine(std::int64_t offset, std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = std::to_string(offset);
    out += ' ';
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    out += '\n';
    return out;
}

}  // namespace lw
