#include "core/rawpacing.h"

namespace lw {

int drainInterval(std::size_t backlog) {
    if (backlog == 0) return 0;
    if (backlog > 40) return 4;
    // 750 / L, half to even, in integers: q remainder r against L / 2.
    const std::size_t q = 750 / backlog;
    const std::size_t twice = 2 * (750 % backlog);
    std::size_t v = q;
    if (twice > backlog || (twice == backlog && q % 2 == 1)) ++v;
    return v < 1 ? 1 : static_cast<int>(v);
}

std::size_t drainChunk(std::size_t backlog) { return backlog > 40 ? 3 : 2; }

void RawPacer::beginTick() {
    if (newdata.size() > kBacklogDropAbove) newdata.clear();
}

std::string RawPacer::finishTick() {
    if (newdata.empty()) return {};
    const std::size_t L = newdata.size();
    interval = drainInterval(L);
    const std::size_t k = drainChunk(L);
    std::string shown = newdata.substr(0, k);
    newdata.erase(0, shown.size());
    return shown;
}

std::u32string displayFromBytes(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20) {
            out += static_cast<char32_t>(0x2400 + c);
        } else if (c == 0x7F) {
            out += U'\u2421';
        } else if (c >= 0x80 && c < 0xA0) {
            out += static_cast<char32_t>(0xE000 + c);
        } else {
            out += static_cast<char32_t>(c);
        }
    }
    return out;
}

std::string bytesFromDisplay(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        if (c >= 0x2400 && c < 0x2420) {
            out += static_cast<char>(c - 0x2400);
        } else if (c == U'\u2421') {
            out += '\x7f';
        } else if (c >= 0xE080 && c < 0xE0A0) {
            out += static_cast<char>(c - 0xE000);
        } else if (c < 0x100) {
            out += static_cast<char>(c);
        } else {
            out += '?';  // typed outside the single-byte set
        }
    }
    return out;
}

}  // namespace lw
