#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A strict, bounded JSON reader for what arrives from outside (broker
// payloads): RFC 8259 only, no duplicate keys, nesting and size limited, so
// no input costs more than its own length in memory.
namespace lw {

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    bool integral = false;  // written without fraction or exponent
    std::string text;       // a string, UTF-8
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order written

    const JsonValue* find(std::string_view key) const;
    bool isNull() const { return type == Type::Null; }
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

inline constexpr int kMaxJsonDepth = 8;
inline constexpr std::size_t kMaxJsonText = 64 * 1024;

// The value `text` holds, or nullopt with why not in `why`.
std::optional<JsonValue> readJson(std::string_view text, std::string* why = nullptr);

// `s` as a JSON string, quotes included; bytes that are not UTF-8 are replaced.
std::string jsonQuote(std::string_view s);

}  // namespace lw
