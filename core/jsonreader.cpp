#include "core/jsonreader.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>

namespace lw {

const JsonValue* JsonValue::find(std::string_view key) const {
    for (const JsonMember& m : members) {
        if (m.key == key) return &m.value;
    }
    return nullptr;
}

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : m_s(text) {}

    std::optional<JsonValue> document() {
        skipBlanks();
        JsonValue v;
        if (!value(v, 0)) return std::nullopt;
        skipBlanks();
        if (m_i != m_s.size()) return fail("text after the value");
        return v;
    }
    std::string why;

private:
    std::nullopt_t fail(const char* what) {
        if (why.empty()) why = std::string(what) + " at byte " + std::to_string(m_i);
        return std::nullopt;
    }
    bool bad(const char* what) {
        fail(what);
        return false;
    }
    void skipBlanks() {
        while (m_i < m_s.size() &&
               (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\n' || m_s[m_i] == '\r'))
            ++m_i;
    }
    bool literal(std::string_view word) {
        if (m_s.substr(m_i, word.size()) != word) return bad("unknown word");
        m_i += word.size();
        return true;
    }

    bool value(JsonValue& v, int depth) {
        if (m_i >= m_s.size()) return bad("value missing");
        switch (m_s[m_i]) {
            case '{': return object(v, depth + 1);
            case '[': return array(v, depth + 1);
            case '"': v.type = JsonValue::Type::String; return string(v.text);
            case 't': v.type = JsonValue::Type::Bool; v.boolean = true; return literal("true");
            case 'f': v.type = JsonValue::Type::Bool; return literal("false");
            case 'n': v.type = JsonValue::Type::Null; return literal("null");
            default: return number(v);
        }
    }

    bool object(JsonValue& v, int depth) {
        if (depth > kMaxJsonDepth) return bad("nested too deep");
        v.type = JsonValue::Type::Object;
        ++m_i;
        skipBlanks();
        if (m_i < m_s.size() && m_s[m_i] == '}') return ++m_i, true;
        for (;;) {
            skipBlanks();
            std::string key;
            if (m_i >= m_s.size() || m_s[m_i] != '"') return bad("name expected");
            if (!string(key)) return false;
            if (v.find(key)) return bad("name given twice");
            skipBlanks();
            if (m_i >= m_s.size() || m_s[m_i] != ':') return bad("':' expected");
            ++m_i;
            skipBlanks();
            JsonValue member;
            if (!value(member, depth)) return false;
            v.members.push_back(JsonMember{std::move(key), std::move(member)});
            skipBlanks();
            if (m_i >= m_s.size()) return bad("object not closed");
            if (m_s[m_i] == '}') return ++m_i, true;
            if (m_s[m_i] != ',') return bad("',' or '}' expected");
            ++m_i;
        }
    }

    bool array(JsonValue& v, int depth) {
        if (depth > kMaxJsonDepth) return bad("nested too deep");
        v.type = JsonValue::Type::Array;
        ++m_i;
        skipBlanks();
        if (m_i < m_s.size() && m_s[m_i] == ']') return ++m_i, true;
        for (;;) {
            skipBlanks();
            JsonValue item;
            if (!value(item, depth)) return false;
            v.items.push_back(std::move(item));
            skipBlanks();
            if (m_i >= m_s.size()) return bad("array not closed");
            if (m_s[m_i] == ']') return ++m_i, true;
            if (m_s[m_i] != ',') return bad("',' or ']' expected");
            ++m_i;
        }
    }

    bool number(JsonValue& v) {
        const std::size_t start = m_i;
        auto digits = [&] {
            const std::size_t from = m_i;
            while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9') ++m_i;
            return m_i - from;
        };
        if (m_i < m_s.size() && m_s[m_i] == '-') ++m_i;
        const std::size_t intStart = m_i;
        const std::size_t n = digits();
        if (n == 0) return bad("value expected");
        if (n > 1 && m_s[intStart] == '0') return bad("leading zero");
        bool integral = true;
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            integral = false;
            if (digits() == 0) return bad("digits expected after '.'");
        }
        if (m_i < m_s.size() && (m_s[m_i] == 'e' || m_s[m_i] == 'E')) {
            ++m_i;
            integral = false;
            if (m_i < m_s.size() && (m_s[m_i] == '+' || m_s[m_i] == '-')) ++m_i;
            if (digits() == 0) return bad("digits expected in the exponent");
        }
        const std::string text(m_s.substr(start, m_i - start));
        v.type = JsonValue::Type::Number;
        v.integral = integral;
        v.number = std::strtod(text.c_str(), nullptr);
        return true;
    }

    bool hex4(std::uint32_t& out) {
        if (m_i + 4 > m_s.size()) return bad("short \\u escape");
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_s[m_i++];
            out <<= 4;
            if (c >= '0' && c <= '9') out |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') out |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') out |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return bad("bad \\u escape");
        }
        return true;
    }

    static void put(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // One UTF-8 sequence as it stands in the text, checked.
    bool utf8() {
        const auto b = static_cast<unsigned char>(m_s[m_i]);
        int more = 0;
        std::uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) more = 1, cp = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) more = 2, cp = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) more = 3, cp = b & 0x07;
        else return bad("not UTF-8");
        if (m_i + static_cast<std::size_t>(more) >= m_s.size()) return bad("not UTF-8");
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(m_s[m_i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) return bad("not UTF-8");
            cp = (cp << 6) | (c & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return bad("not UTF-8");
        m_i += static_cast<std::size_t>(more) + 1;
        return true;
    }

    bool string(std::string& out) {
        ++m_i;  // the opening quote
        for (;;) {
            if (m_i >= m_s.size()) return bad("string not closed");
            const auto c = static_cast<unsigned char>(m_s[m_i]);
            if (c == '"') return ++m_i, true;
            if (c < 0x20) return bad("control character in a string");
            if (c >= 0x80) {
                const std::size_t from = m_i;
                if (!utf8()) return false;
                out.append(m_s.substr(from, m_i - from));
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                ++m_i;
                continue;
            }
            if (++m_i >= m_s.size()) return bad("string not closed");
            const char e = m_s[m_i++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return bad("lone surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (m_s.substr(m_i, 2) != "\\u") return bad("lone surrogate");
                        m_i += 2;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return bad("lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    put(out, cp);
                    break;
                }
                default: return bad("unknown escape");
            }
        }
    }

    std::string_view m_s;
    std::size_t m_i = 0;
};

}  // namespace

std::optional<JsonValue> readJson(std::string_view text, std::string* why) {
    if (text.size() > kMaxJsonText) {
        if (why) *why = "longer than " + std::to_string(kMaxJsonText) + " bytes";
        return std::nullopt;
    }
    Reader r(text);
    auto v = r.document();
    if (!v && why) *why = r.why;
    return v;
}

std::string jsonQuote(std::string_view s) {
    std::string out = "\"";
    static const char* hex = "0123456789abcdef";
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else if (c < 0x80) {
            // '<' and '>' escaped too, so the text is safe inside a page's script.
            if (c == '<' || c == '>') {
                out += c == '<' ? "\\u003c" : "\\u003e";
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else {
            std::string probe = "\"";
            std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            probe.append(s.substr(i, len));
            probe += '"';
            Reader r(probe);
            if (i + len <= s.size() && r.document()) {
                out.append(s.substr(i, len));
                i += len;
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
    out += '"';
    return out;
}

}  // namespace lw
