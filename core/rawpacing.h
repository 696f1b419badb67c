#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lw {

// The raw data window's pacing: the backlog `newdata` is shown two or three
// characters a tick, at an interval that follows its length.
inline constexpr std::size_t kBacklogDropAbove = 150;
inline constexpr std::size_t kShownKeep = 921;  // kept after a trim
inline constexpr int kFirstDrainIntervalMs = 80;

// 750 / L ms rounded half to even; 4 ms above 40 characters; at least 1 ms.
int drainInterval(std::size_t backlog);
// Characters moved per tick: 2, or 3 above 40.
std::size_t drainChunk(std::size_t backlog);

class RawPacer {
public:
    std::string newdata;
    int interval = kFirstDrainIntervalMs;

    void append(std::string_view bytes) { newdata.append(bytes); }

    // First half of a drain tick: an overlong backlog is dropped whole.
    void beginTick();
    // Second half, after the yield: the characters to show now (empty when
    // there is no backlog; the interval then stays).
    std::string finishTick();
};

// The shown text after a change: longer than 920 characters keeps the last
// 921, so exactly 921 stays as it is. True when the text changed.
template <typename Text>
bool trimShown(Text& text) {
    if (static_cast<std::size_t>(text.size()) <= kShownKeep) return false;
    text.remove(0, text.size() - static_cast<decltype(text.size())>(kShownKeep));
    return true;
}
inline bool trimShown(std::string& text) {
    if (text.size() <= kShownKeep) return false;
    text.erase(0, text.size() - kShownKeep);
    return true;
}

// Bytes as the window shows them, one character each, and back: printable
// Latin-1 as itself, control bytes as their control pictures (U+2400..),
// DEL as U+2421, 0x80-0x9F as private-use U+E080.. so nothing breaks the
// text box and the quick save gets the bytes back exactly.
std::u32string displayFromBytes(std::string_view bytes);
std::string bytesFromDisplay(std::u32string_view text);

}  // namespace lw
