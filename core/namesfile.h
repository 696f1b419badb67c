#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/unitboard.h"

namespace lw {

// Unit names as Latin-1 bytes, slot 1 first.
using UnitNames = std::array<std::string, kSlots>;

inline constexpr std::string_view kNamesMarker = "fileok";

UnitNames defaultUnitNames();

// The comma-separated fields of a names file: quoted fields lose their
// quotes, bare ones their surrounding blanks; commas and line ends separate.
std::vector<std::string> parseNameFields(std::string_view content);

// The field that reads back as `name`: quoted, or bare for a name that
// holds a double quote (a file written by hand may have one); nothing when
// neither would read back the same.
std::optional<std::string> nameField(std::string_view name);
// The first slot (1..16) whose name no field reads back unchanged, or 0.
int unwritableSlot(const UnitNames& names);

// The one line of a names file, CR LF included.
std::string namesLine(const UnitNames& names);
// The renumbered line, the numbers written bare: "fileok",17,18,...,32.
std::string numbersLine(int first);

Result<> writeNamesFile(const std::string& path, std::string_view line);

// Reads a valid file's names over `names` (slots the file lacks keep theirs);
// false when the file is missing, unreadable or lacks the marker.
bool readNamesFile(const std::string& path, UnitNames& names);

// Reads the names file onto the captions, replacing a missing or invalid file
// by the default one.
Result<> loadunitnames(const std::string& path, UnitNames& captions);

// Why a name cannot be stored so that it reads back the same, or nothing.
std::optional<std::string> nameProblem(std::string_view latin1);

// UTF-8 to Latin-1; nothing when a character lies outside Latin-1 or the
// bytes are not UTF-8.
std::optional<std::string> latin1FromUtf8(std::string_view utf8);

struct RenameResult {
    enum class Outcome { Unchanged, Renamed, Refused, WriteFailed };
    Outcome outcome = Outcome::Unchanged;
    std::string message;
};

// A new name from the input box (UTF-8): empty changes nothing; a name that
// would not read back unchanged is refused before anything is written, and
// so is the rewrite when another unit's name could not be written back.
RenameResult renameUnit(const std::string& path, UnitNames& captions, int slot,
                        std::string_view answerUtf8);

// The hidden hot spot: every second double-click renumbers the board,
// alternately to 17..32 and back to 1..16; every double-click reloads.
class HotSpot {
public:
    Result<> doubleClick(const std::string& path, UnitNames& captions);

    int count() const { return m_count; }
    bool renumbered() const { return m_phase; }

private:
    int m_count = 0;
    bool m_phase = false;
};

}  // namespace lw

namespace lw {

UnitNames namesOf(const UnitBoard& board);
void setNames(UnitBoard& board, const UnitNames& names);

}  // namespace lw
