#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace lw {

// The bus alphabet. A status frame is three characters: a unit's address, a
// tag, a status code. The master remote box says "T"; "PK" (either case) is a
// panic stop, and so is a lone "P" on the versions that send only that.

// Slot n (1 to 16) answers to the address character 0x2F + n, "0" to "?".
inline constexpr char kFirstAddress = '0';
constexpr char addressOf(int slot) { return static_cast<char>(kFirstAddress + slot - 1); }

inline constexpr std::string_view kTags = "ijvwIJVWX";
inline constexpr char kMasterRemote = 'T';
inline constexpr std::string_view kPanicStop = "PK";
inline constexpr char kSinglePanic = 'P';

// Status codes; a unit in interlock sends the upper-case letter.
namespace code {
inline constexpr char start = 'q';
inline constexpr char noFilm = 'l';
inline constexpr char filmIn = 'z';
inline constexpr char showEnding = 'n';
inline constexpr char showRun = 'u';
inline constexpr char failPresence = 'h';
inline constexpr char failMotion = 'm';
}  // namespace code
constexpr char interlocked(char c) { return static_cast<char>(c - 'a' + 'A'); }

// A unit's decoded status words.
namespace status {
inline constexpr std::string_view notThere = "NOT THERE";
inline constexpr std::string_view start = "START";
inline constexpr std::string_view noFilm = "NO FILM";
inline constexpr std::string_view filmIn = "FILM IN";
inline constexpr std::string_view showEnding = "SHOW ENDING";
inline constexpr std::string_view showRun = "SHOW RUN";
inline constexpr std::string_view fail = "FAIL";
inline constexpr std::string_view interlock = " INT";  // appended in interlock
}  // namespace status

// What a status code stands for: its word and, for a failure, its cause.
struct StatusCode {
    char code;
    std::string_view word;
    std::string_view cause;
};

inline constexpr std::array<StatusCode, 14> kStatusCodes{{
    {code::start, "START", ""},
    {interlocked(code::start), "START INT", ""},
    {code::noFilm, "NO FILM", ""},
    {interlocked(code::noFilm), "NO FILM INT", ""},
    {code::filmIn, "FILM IN", ""},
    {interlocked(code::filmIn), "FILM IN INT", ""},
    {code::showEnding, "SHOW ENDING", ""},
    {interlocked(code::showEnding), "SHOW ENDING INT", ""},
    {code::showRun, "SHOW RUN", ""},
    {interlocked(code::showRun), "SHOW RUN INT", ""},
    {code::failPresence, "FAIL", " PRESENCE "},
    {interlocked(code::failPresence), "FAIL INT", " PRESENCE "},
    {code::failMotion, "FAIL", " MOTION "},
    {interlocked(code::failMotion), "FAIL INT", " MOTION "},
}};

// The 47 characters the protocol uses; anything else is noise.
inline constexpr std::string_view kKnownChars = "0123456789:;<=>?ijvwIJVWXqQlLzZnNuUhHmMTPKRFfSs";
bool isKnownBusChar(unsigned char c);

// The software versions the bus equipment runs, the configuration dialog's
// list; the first is the default.
inline constexpr std::array<std::string_view, 6> kVersions{"HUBQV-2",   "KX40QV-2", "HUB8",
                                                           "KX40JV-11", "HUB7",     "KX40JV-10"};
inline constexpr std::string_view kDefaultVersion = kVersions[0];

// The two bus speeds, fast first as the detection tries them.
inline constexpr std::string_view kFastBaud = "4800";
inline constexpr std::string_view kSlowBaud = "1200";

// "4800" for exactly "HUBQV-2" or "KX40QV-2", "1200" for any other text.
std::string baudForVersion(std::string_view versionChoice);

// The versions whose panic stop is a lone "P".
bool singlePVersion(std::string_view versionChoice);

// The line format "<baud>,n,8,1": 8 data bits, no parity, 1 stop bit.
inline constexpr std::string_view kLineFrame = ",n,8,1";
std::string lineSettings(std::string_view baud);

// The line format text "<baud>,n,8,1" with a standard speed; nothing for
// anything else (",n,8,1" with no speed included).
std::optional<int> parseLineSettings(std::string_view text);

// Port numbers a port can be selected by.
inline constexpr int kMinPortNumber = 1;
inline constexpr int kMaxPortNumber = 255;

}  // namespace lw
