// The names file: reading never writes; after a load the file reads back as
// the names the board shows; a rename is either refused (file untouched) or
// stored so that it reads back as shown.
//
// Input: one byte picks the slot (0 and 17 are out of range), one byte the
// length of the rename answer (UTF-8, as typed), the answer, then the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "core/namesfile.h"
#include "fuzz/fuzzcheck.h"
#include "tests/support/files.h"

namespace {

using lwtest::readFile;

// One folder per process, so parallel fuzzing jobs stay apart; gone at exit.
struct ScratchDir {
    ScratchDir()
        : dir(std::filesystem::temp_directory_path() /
              ("lw-fuzz-names-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(dir);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::filesystem::path dir;
};

const std::filesystem::path& namesPath() {
    static const ScratchDir scratch;
    static const std::filesystem::path p = scratch.dir / "remlabel.dat";
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int slot = data[0] % (lw::kSlots + 2);
    const std::size_t answerLen = std::min<std::size_t>(data[1], size - 2);
    const std::string_view answer(reinterpret_cast<const char*>(data + 2), answerLen);
    const std::string content(reinterpret_cast<const char*>(data + 2 + answerLen),
                              size - 2 - answerLen);
    const std::filesystem::path& file = namesPath();
    const std::string path = file.string();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;

    lw::UnitNames read = lw::defaultUnitNames();
    lw::readNamesFile(path, read);
    LW_FUZZ_CHECK(readFile(file) == content);

    lw::UnitNames captions = lw::defaultUnitNames();
    LW_FUZZ_CHECK(lw::loadunitnames(path, captions).ok);
    lw::UnitNames back = lw::defaultUnitNames();
    LW_FUZZ_CHECK(lw::readNamesFile(path, back));
    LW_FUZZ_CHECK(back == captions);

    const std::string before = readFile(file);
    const lw::UnitNames shown = captions;
    const lw::RenameResult r = lw::renameUnit(path, captions, slot, answer);
    using Outcome = lw::RenameResult::Outcome;
    LW_FUZZ_CHECK(r.outcome != Outcome::WriteFailed);
    if (r.outcome == Outcome::Renamed) {
        const auto latin1 = lw::latin1FromUtf8(answer);
        LW_FUZZ_CHECK(latin1 && captions[static_cast<std::size_t>(slot - 1)] == *latin1);
        back = lw::defaultUnitNames();
        LW_FUZZ_CHECK(lw::readNamesFile(path, back));
        LW_FUZZ_CHECK(back == captions);  // no other unit's name changed on the way
    } else {
        LW_FUZZ_CHECK(captions == shown);
        LW_FUZZ_CHECK(readFile(file) == before);
        LW_FUZZ_CHECK(r.outcome == Outcome::Unchanged || !r.message.empty());
    }
    return 0;
}
