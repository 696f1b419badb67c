#include "core/namesfile.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/textutil.h"

namespace lw {

namespace {

// A names file is one short line; anything past this is not ours to read.
constexpr std::size_t kMaxNamesFile = 64 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::optional<std::string> readAll(const std::string& path) {
    std::ifstream in(pathFromUtf8(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::string content(kMaxNamesFile, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad()) return std::nullopt;
    content.resize(static_cast<std::size_t>(in.gcount()));
    return content;
}

}  // namespace

UnitNames defaultUnitNames() {
    UnitNames n;
    for (int i = 0; i < kSlots; ++i) n[static_cast<std::size_t>(i)] = std::to_string(i + 1);
    return n;
}

std::vector<std::string> parseNameFields(std::string_view c) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = c.size();
    auto isEnd = [](char ch) { return ch == ',' || ch == '\r' || ch == '\n'; };
    while (i < n) {
        while (i < n && isBlank(c[i])) ++i;
        if (i < n && (c[i] == '\r' || c[i] == '\n')) {  // line ends between fields
            ++i;
            continue;
        }
        if (i >= n) break;
        std::string field;
        if (c[i] == '"') {
            const std::size_t close = c.find('"', i + 1);
            const std::size_t stop = close == std::string_view::npos ? n : close;
            field.assign(c.substr(i + 1, stop - i - 1));
            i = stop == n ? n : stop + 1;
            while (i < n && !isEnd(c[i])) ++i;  // anything after the quote is dropped
        } else {
            const std::size_t start = i;
            while (i < n && !isEnd(c[i])) ++i;
            std::size_t end = i;
            while (end > start && isBlank(c[end - 1])) --end;
            field.assign(c.substr(start, end - start));
        }
        fields.push_back(std::move(field));
        if (i < n && c[i] == ',') ++i;
    }
    return fields;
}

std::optional<std::string> nameField(std::string_view name) {
    if (name.find('"') == std::string_view::npos) {
        std::string f = "\"";
        f += name;
        f += '"';
        return f;
    }
    // Bare, it must not open as a quoted field, lose blanks at either end or
    // run into the next field.
    if (isBlank(name.front()) || name.front() == '"' || isBlank(name.back()) ||
        name.find_first_of(",\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(name);
}

int unwritableSlot(const UnitNames& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!nameField(names[i])) return static_cast<int>(i) + 1;
    }
    return 0;
}

std::string namesLine(const UnitNames& names) {
    std::string out = "\"fileok\"";
    for (const auto& name : names) {
        out += ',';
        out += nameField(name).value_or('"' + name + '"');
    }
    out += "\r\n";
    return out;
}

std::string numbersLine(int first) {
    std::string out = "\"fileok\"";
    for (int i = 0; i < kSlots; ++i) {
        out += ',';
        out += std::to_string(first + i);
    }
    out += "\r\n";
    return out;
}

Result<> writeNamesFile(const std::string& path, std::string_view line) {
    errno = 0;
    std::ofstream out(pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        out.close();
    }
    if (!out) {
        const int e = errno;
        return {false, "Cannot write the unit names file " + path + ": " +
                           (e ? std::generic_category().message(e) : std::string("write failed"))};
    }
    return {};
}

bool readNamesFile(const std::string& path, UnitNames& names) {
    const auto content = readAll(path);
    if (!content) return false;
    const auto fields = parseNameFields(*content);
    if (fields.empty() || fields[0] != kNamesMarker) return false;
    for (std::size_t i = 1; i < fields.size() && i <= names.size(); ++i) {
        names[i - 1] = fields[i];
    }
    return true;
}

Result<> loadunitnames(const std::string& path, UnitNames& captions) {
    Result<> result;
    std::string check;
    const auto content = readAll(path);
    std::vector<std::string> fields;
    if (content) fields = parseNameFields(*content);
    if (fields.empty()) {
        // Missing or unreadable: create it at once from the captions shown.
        result = writeNamesFile(path, namesLine(captions));
    } else {
        check = fields[0];
    }
    if (check == kNamesMarker) {
        for (std::size_t i = 1; i < fields.size() && i <= captions.size(); ++i) {
            captions[i - 1] = fields[i];
        }
        return result;
    }
    const Result<> def = writeNamesFile(path, namesLine(defaultUnitNames()));
    return result.ok ? def : result;
}

std::optional<std::string> nameProblem(std::string_view name) {
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') return "A unit name cannot contain a double quote (\").";
        if (c < 0x20 || c == 0x7F)
            return "A unit name cannot contain line breaks or control characters.";
    }
    return std::nullopt;
}

std::optional<std::string> latin1FromUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size() &&
                   (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            const auto next = static_cast<unsigned char>(s[++i]);
            out += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

RenameResult renameUnit(const std::string& path, UnitNames& captions, int slot,
                        std::string_view answerUtf8) {
    using Outcome = RenameResult::Outcome;
    if (answerUtf8.empty() || slot < 1 || slot > kSlots) return {};
    const auto latin1 = latin1FromUtf8(answerUtf8);
    if (!latin1) {
        return {Outcome::Refused,
                "A unit name can only use the characters of the Western (Latin-1) set."};
    }
    if (auto problem = nameProblem(*latin1)) return {Outcome::Refused, *problem};
    UnitNames renamed = captions;
    renamed[static_cast<std::size_t>(slot - 1)] = *latin1;
    if (const int other = unwritableSlot(renamed)) {
        return {Outcome::Refused, "The name of unit " + std::to_string(other) +
                                      " could not be written back unchanged, so the names file "
                                      "is left as it is."};
    }
    captions = renamed;
    const Result<> w = writeNamesFile(path, namesLine(captions));
    if (!w.ok) return {Outcome::WriteFailed, w.error};
    return {Outcome::Renamed, {}};
}

Result<> HotSpot::doubleClick(const std::string& path, UnitNames& captions) {
    Result<> written;
    if (++m_count >= 2) {
        m_count = 0;
        m_phase = !m_phase;
        written = writeNamesFile(path, numbersLine(m_phase ? 17 : 1));
    }
    const Result<> loaded = loadunitnames(path, captions);
    return written.ok ? loaded : written;
}

}  // namespace lw

namespace lw {

UnitNames namesOf(const UnitBoard& board) {
    UnitNames n;
    for (std::size_t i = 0; i < n.size(); ++i) n[i] = board.slots[i].name;
    return n;
}

void setNames(UnitBoard& board, const UnitNames& names) {
    for (std::size_t i = 0; i < names.size(); ++i) board.slots[i].name = names[i];
}

}  // namespace lw
