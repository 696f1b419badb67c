#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/busprotocol.h"
#include "core/colour.h"

namespace lw {

inline constexpr int kSlots = 16;

// What a unit is doing, by the decoded status its row was last drawn from.
enum class UnitState : std::uint8_t { Absent, Starting, Running, Closing, NoFilm, Ready, Failed };

// One unit's block on the board, plus the decoder and clock state behind it.
struct UnitSlot {
    // What the board shows.
    std::string name;               // Label33
    std::string status = " ";       // stat1
    std::string clock = " ";        // time1
    Colour panel = colours::black;  // Shape1
    Colour lamp = colours::black;   // Shape2
    // The row's meaning, written with it: the " INT" forms are interlock.
    UnitState state = UnitState::Absent;
    bool interlock = false;

    // Show clock; the counters have no upper limit.
    bool clockrunning = false;
    std::int64_t clockhours = 0;
    int clockminutes = 0;
    int clockseconds = 0;

    // Decoder.
    std::string unitstatus{status::notThere};
    int presence = 0;
    std::string failcause;
};

// The status board's model: sixteen unit slots and the board-wide lamps. The
// window paints it and nothing else.
struct UnitBoard {
    UnitBoard();

    std::array<UnitSlot, kSlots> slots;

    Colour remoteLamp = colours::black;             // Shape3, the master remote lamp
    Colour remoteTextColour = colours::windowText;  // Label1, "MASTER REMOTE FOUND "
    Colour noiseLamp = colours::black;              // Shape4
    Colour noiseTextColour = colours::white;        // Label2, "NOISE"; read back by the decoder

    bool blinkphase = false;
    std::string lastsecond;

    std::array<char, kSlots> addrchar{};
    std::array<char, 9> tagchar{};

    UnitSlot& slot(int n) { return slots.at(static_cast<std::size_t>(n - 1)); }
    const UnitSlot& slot(int n) const { return slots.at(static_cast<std::size_t>(n - 1)); }

    bool remoteLit() const { return remoteLamp == colours::red; }
    bool noiseLit() const { return noiseTextColour == colours::red; }
};

}  // namespace lw
