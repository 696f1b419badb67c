#include "core/commandline.h"

#include <iostream>

#include "core/textutil.h"
#include "core/version.h"

namespace lw::cli {

namespace {

constexpr std::size_t kHelpColumn = 26;

}  // namespace

int usageError(std::string_view program, std::string_view why, std::string_view usage) {
    std::cerr << program << ": " << why << "\n" << usage;
    return 2;
}

std::optional<int> standardAnswer(const std::vector<std::string>& args, std::string_view program,
                                  std::string_view usage) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << usage;
            return 0;
        }
        if (a == "--version") {
            std::cout << program << ' ' << kProgramVersion << '\n';
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> wholeNumber(std::string_view s) {
    std::int64_t v = 0;
    if (s.size() > 15 || !parseDecimal(s, v)) return std::nullopt;
    return v;
}

std::optional<bool> parseFlag(std::string_view v) {
    if (v == "true" || v == "1" || v == "yes" || v == "on") return true;
    if (v == "false" || v == "0" || v == "no" || v == "off") return false;
    return std::nullopt;
}

std::string usageText(std::string_view program, std::string_view synopsis,
                      std::string_view description, const std::vector<OptionHelp>& options,
                      std::string_view footer) {
    std::string out = "usage: " + std::string(program);
    if (!synopsis.empty()) out += ' ' + std::string(synopsis);
    out += "\n\n";
    out += description;
    for (const OptionHelp& o : options) {
        std::string head = "  --" + std::string(o.name);
        if (!o.value.empty()) head += ' ' + std::string(o.value);
        // A long head puts its help on the next line.
        head += head.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - head.size(), ' ')
                                               : '\n' + std::string(kHelpColumn, ' ');
        out += head;
        for (const char c : o.help) {
            out += c;
            if (c == '\n') out += std::string(kHelpColumn, ' ');
        }
        out += '\n';
    }
    out += footer;
    return out;
}

std::optional<HostPort> splitHostPort(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    std::int64_t port = 0;
    if (portText.empty() || portText.size() > 5 || !parseDecimal(portText, port) || port > 65535) {
        return std::nullopt;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    if (host.empty()) return std::nullopt;
    return HostPort{std::string(host), static_cast<int>(port)};
}

}  // namespace lw::cli
