#include "core/unitboard.h"

namespace lw {

UnitBoard::UnitBoard() {
    for (int i = 0; i < kSlots; ++i) {
        slots[static_cast<std::size_t>(i)].name = std::to_string(i + 1);
    }
}

}  // namespace lw
