#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

// The command line of every program: --help and --version answered alike,
// a bad line refused alike, and for programs with many options one table
// that both reads the line and writes the usage.
namespace lw::cli {

// A bad command line: the reason, then the usage; exit status 2.
int usageError(std::string_view program, std::string_view why, std::string_view usage);

// --help (or -h) and --version anywhere on the line: the exit status once
// answered, nothing when neither is there.
std::optional<int> standardAnswer(const std::vector<std::string>& args, std::string_view program,
                                  std::string_view usage);

// At most 15 digits, so seconds can still be turned into milliseconds.
std::optional<std::int64_t> wholeNumber(std::string_view s);

// "true", "1", "yes", "on" and their opposites.
std::optional<bool> parseFlag(std::string_view v);

// HOST:PORT or [IPv6]:PORT, the host as written, the port 0 to 65535: the
// one reading of a broker's or a listener's address for every program.
struct HostPort {
    std::string host;
    int port = 0;
};
std::optional<HostPort> splitHostPort(std::string_view text);

// One option: its name without the dashes (also its key in a config file),
// what it takes ("FILE"; empty for a flag, which the command line sets
// "true"), and its help, lines after the first indented under it.
template <class Options>
struct Option {
    std::string_view name;
    std::string_view value;
    std::string_view help;
    std::function<Result<>(Options&, const std::string& value)> apply;

    bool takesValue() const { return !value.empty(); }
};

template <class Options>
using OptionTable = std::vector<Option<Options>>;

// The usage text: "usage: PROGRAM SYNOPSIS", the description, then one
// entry per option in table order.
struct OptionHelp {
    std::string_view name;
    std::string_view value;
    std::string_view help;
};
std::string usageText(std::string_view program, std::string_view synopsis,
                      std::string_view description, const std::vector<OptionHelp>& options,
                      std::string_view footer = {});

template <class Options>
std::string usageText(std::string_view program, std::string_view synopsis,
                      std::string_view description, const OptionTable<Options>& table,
                      std::string_view footer = {}) {
    std::vector<OptionHelp> help;
    for (const Option<Options>& o : table) help.push_back({o.name, o.value, o.help});
    return usageText(program, synopsis, description, help, footer);
}

template <class Options>
const Option<Options>* findOption(const OptionTable<Options>& table, std::string_view name) {
    for (const Option<Options>& o : table) {
        if (o.name == name) return &o;
    }
    return nullptr;
}

// An option as given on the line, not applied yet.
template <class Options>
struct Given {
    const Option<Options>* option;
    std::string value;
};

// Splits the line (without the program name) into the table's options and
// their values, in order. An argument that is not "--name" goes to
// `positional`; without one it is refused.
template <class Options>
Result<std::vector<Given<Options>>> splitLine(
    const std::vector<std::string>& args, const OptionTable<Options>& table,
    const std::function<Result<>(const std::string&)>& positional = {}) {
    using R = Result<std::vector<Given<Options>>>;
    std::vector<Given<Options>> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!a.starts_with("--") && positional) {
            const Result<> r = positional(a);
            if (!r.ok) return R::failure(r.error);
            continue;
        }
        // --NAME=VALUE as well as --NAME VALUE.
        const std::size_t eq = a.find('=');
        const std::string_view name = std::string_view(a).substr(0, eq);
        const Option<Options>* o =
            name.starts_with("--") ? findOption(table, name.substr(2)) : nullptr;
        if (!o) return R::failure("unknown argument " + a);
        if (eq != std::string::npos) {
            given.push_back({o, a.substr(eq + 1)});
        } else if (!o->takesValue()) {
            given.push_back({o, "true"});
        } else if (i + 1 >= args.size()) {
            return R::failure(a + " needs a value");
        } else {
            given.push_back({o, args[++i]});
        }
    }
    return R::success(std::move(given));
}

// Each option applied in order; the first refusal is the answer.
template <class Options>
Result<> apply(const std::vector<Given<Options>>& given, Options& o) {
    for (const Given<Options>& g : given) {
        const Result<> r = g.option->apply(o, g.value);
        if (!r.ok) return r;
    }
    return {};
}

// The rows most options are: a flag, or a text that must not be empty.
template <class Options>
Option<Options> flagOption(std::string_view name, bool Options::*field, std::string_view help) {
    return {name, {}, help, [field, name](Options& o, const std::string& v) {
                if (const auto b = parseFlag(v)) {
                    o.*field = *b;
                    return Result<>{};
                }
                return Result<>::failure(std::string(name) + " is true or false, not \"" + v +
                                         "\"");
            }};
}

template <class Options>
Option<Options> textOption(std::string_view name, std::string_view value,
                           std::string Options::*field, std::string_view help) {
    return {name, value, help, [field, name](Options& o, const std::string& v) {
                if (v.empty()) return Result<>::failure("--" + std::string(name) + " needs a value");
                o.*field = v;
                return Result<>{};
            }};
}

// A tool's command line, one argument at a time, for tools with a handful
// of options; an option takes the argument after it as its value.
class ArgReader {
public:
    ArgReader(int argc, char** argv) : m_args(argv + 1, argv + argc) {}

    const std::vector<std::string>& all() const { return m_args; }
    // Moves to the next argument; false when none is left.
    bool next() { return ++m_at < m_args.size(); }
    const std::string& current() const { return m_args[m_at]; }

    // The current option's value, nothing when the line ends first.
    std::optional<std::string> value() {
        if (m_at + 1 >= m_args.size()) return std::nullopt;
        return m_args[++m_at];
    }
    // The value as a whole number (see wholeNumber).
    std::optional<std::int64_t> number() {
        const auto v = value();
        return v ? wholeNumber(*v) : std::nullopt;
    }

private:
    std::vector<std::string> m_args;
    std::size_t m_at = static_cast<std::size_t>(-1);
};

}  // namespace lw::cli
