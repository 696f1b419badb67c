#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace lw::sim {

enum class UnitState { Off, FilmIn, Start, Run, Ending, NoFilm, FailPresence, FailMotion };

struct Event {
    enum class Kind { Unit, Remote, Panic, Noise, End };
    std::int64_t at = 0;  // ms since the scenario's start
    Kind kind = Kind::Unit;
    int firstUnit = 1;
    int lastUnit = 1;
    UnitState state = UnitState::Off;
    bool interlock = false;
    bool on = false;        // remote
    std::string panic;      // "PK" or "P"
    int noisePerMille = 0;  // noise bytes per thousand items sent
};

struct Script {
    std::vector<Event> events;  // in time order
    std::optional<std::int64_t> end;
};

// The scenario language, one command a line ('#' starts a comment):
//   at TIME unit N|N-M|all STATE [interlock]   STATE: off film-in start run
//                                               ending no-film fail-presence fail-motion
//   at TIME unit N|N-M|all show LENGTH [interlock]
//   at TIME remote on|off
//   at TIME panic pk|p
//   at TIME noise PER_MILLE
//   at TIME end
// TIME and LENGTH: 250ms, 10s, 3m, or a bare number of milliseconds.
Result<Script> parseScript(std::string_view text);

// The scenarios that come with the simulator, by name.
std::optional<std::string_view> builtinScenario(std::string_view name);
std::vector<std::string_view> builtinScenarioNames();

// Plays the bus side: units repeat their status frames back to back as the
// line rate allows, the master remote box says "T" between rounds, panics and
// noise come as scheduled. Deterministic for a given seed.
class BusSimulator {
public:
    BusSimulator(Script script, std::uint64_t seed, int baud);

    // The bytes the line carries in the next `ms` milliseconds.
    std::string advance(std::int64_t ms);

    std::int64_t now() const { return m_now; }
    bool finished() const { return m_script.end && m_now >= *m_script.end; }
    // Back to the scenario's start, for looping demos.
    void restart();

private:
    struct Unit {
        UnitState state = UnitState::Off;
        bool interlock = false;
    };

    void apply(const Event& e);
    bool refill();
    std::uint64_t random(std::uint64_t bound);

    Script m_script;
    std::uint64_t m_seed;
    std::mt19937_64 m_rng;
    int m_charsPerSecond;
    std::int64_t m_now = 0;
    std::size_t m_next = 0;
    std::int64_t m_credit = 0;  // thousandths of a character
    std::array<Unit, 16> m_units{};
    bool m_remote = false;
    int m_noisePerMille = 0;
    int m_cursor = 0;
    std::int64_t m_lastRemote = -1'000'000;
    std::string m_pending;
};

// One unit's status code character for a state, or 0 when it sends nothing.
char statusCode(UnitState s, bool interlock);

// A receiver set to another speed than the line's: what a UART at
// `listenBaud` makes of 8N1 characters a line at `lineBaud` sends back to
// back. One received frame spans this many line characters: one when the
// receiver is faster, several when it is slower, so it reads at the slower
// of the two rates.
std::size_t charsPerMisframe(int lineBaud, int listenBaud);

// The byte such a receiver frames from `chars` (charsPerMisframe of them): its
// start bit on a falling edge, each of its bits sampled mid-bit on the line's
// bit stream. Never a bus character: a byte that would pass for one is
// delivered as 0x00, as a receiver reports a broken frame.
unsigned char misframe(std::string_view chars, int lineBaud, int listenBaud);

// The line as a receiver at a given speed hears it, chunk by chunk.
class MismatchedLine {
public:
    explicit MismatchedLine(int lineBaud) : m_lineBaud(lineBaud) {}

    // What a receiver at `listenBaud` reads of `sent`: the bytes themselves at
    // the line's own speed, garbled at any other, nothing at speed 0.
    std::string receive(std::string_view sent, int listenBaud);

private:
    int m_lineBaud;
    int m_listenBaud = 0;
    std::string m_partial;  // the start of a slower receiver's next frame
};

}  // namespace lw::sim
