#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lw {

// The outcome of an operation that may fail. On failure `error` says why, in
// words shown to the user as they come, and `line` names the line of a text
// at fault (0 when there is none); on success `value` holds what was made.
template <typename T = std::monostate>
struct Result {
    bool ok = true;
    std::string error;
    int line = 0;
    T value{};

    static Result success(T v) { return Result{true, {}, 0, std::move(v)}; }
    static Result failure(std::string why, int atLine = 0) {
        return Result{false, std::move(why), atLine, T{}};
    }
};

}  // namespace lw
