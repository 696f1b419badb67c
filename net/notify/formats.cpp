#include "net/notify/formats.h"

#include <algorithm>
#include <optional>

#include "core/jsonreader.h"
#include "core/textutil.h"

namespace lw::notify {
namespace {

constexpr std::size_t kMaxHeaderText = 200;
constexpr std::size_t kMaxMailLine = 998;
constexpr std::size_t kEncodedChunk = 45;  // bytes per encoded word: 60 base64 characters

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The byte count at most `limit` that does not split a UTF-8 character.
std::size_t wholeCharacters(std::string_view s, std::size_t limit) {
    if (s.size() <= limit) return s.size();
    std::size_t n = limit;
    while (n > 0 && isContinuation(static_cast<unsigned char>(s[n]))) --n;
    return n == 0 ? limit : n;
}

std::string base64(std::string_view in) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, in.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

struct UrlParts {
    std::string scheme;
    std::string host;  // brackets kept around an IPv6 address
    std::string port;  // empty when not written
    std::string path;
};

std::optional<UrlParts> splitUrl(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) return std::nullopt;  // blanks, controls, raw non-ASCII
    }
    const std::size_t mark = s.find("://");
    if (mark == std::string_view::npos) return std::nullopt;
    UrlParts url;
    url.scheme = lower(s.substr(0, mark));
    if (url.scheme != "http" && url.scheme != "https") return std::nullopt;
    const std::string_view rest = s.substr(mark + 3);
    const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, end);
    const std::string_view tail = rest.substr(end);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 2) return std::nullopt;
        for (char c : authority.substr(1, close - 1))
            if (!(isAlnum(c) || c == ':' || c == '.')) return std::nullopt;
        url.host = std::string(authority.substr(0, close + 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        for (char c : url.host)
            if (!(isAlnum(c) || c == '.' || c == '-' || c == '_' || c == '~' || c == '%'))
                return std::nullopt;
    }
    if (url.host.empty()) return std::nullopt;
    if (hasPort) {
        int port = 0;
        if (!parseDecimal(portText, port) || port < 1 || port > 65535) return std::nullopt;
        url.port = std::to_string(port);
    }
    url.path = std::string(tail.substr(0, std::min(tail.find_first_of("?#"), tail.size())));
    if (url.path.empty()) url.path = "/";
    return url;
}

bool isMailAddress(std::string_view s) {
    if (s.size() > 254 || s.empty() || s.front() == '-') return false;
    const std::size_t at = s.find('@');
    if (at == std::string_view::npos || at == 0 || s.find('@', at + 1) != std::string_view::npos)
        return false;
    const auto dotted = [](std::string_view part, auto&& allowed) {
        if (part.empty() || part.front() == '.' || part.back() == '.') return false;
        if (part.find("..") != std::string_view::npos) return false;
        return std::all_of(part.begin(), part.end(),
                           [&](char c) { return c == '.' || isAlnum(c) || allowed(c); });
    };
    static constexpr std::string_view kLocalExtra = "!#$%&'*+-/=?^_`{|}~";
    return dotted(s.substr(0, at),
                  [](char c) { return kLocalExtra.find(c) != std::string_view::npos; }) &&
           dotted(s.substr(at + 1), [](char c) { return c == '-'; });
}

// Raw non-ASCII bytes of a link as %XX, so the header stays ASCII.
std::string asciiLink(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::string stateName(DeliveryState s) {
    switch (s) {
        case DeliveryState::Pending:
            return "pending";
        case DeliveryState::Taken:
            return "taken";
        case DeliveryState::Failed:
            return "failed";
        case DeliveryState::Dropped:
            return "dropped";
    }
    return "pending";
}

}  // namespace

std::string channelName(ChannelKind kind) {
    switch (kind) {
        case ChannelKind::Webhook:
            return "webhook";
        case ChannelKind::Ntfy:
            return "ntfy";
        case ChannelKind::Mail:
            return "mail";
    }
    return "webhook";
}

Result<Destination> parseChannel(ChannelKind kind, std::string_view text) {
    const std::string shown = jsonQuote(text);
    if (kind == ChannelKind::Mail) {
        if (!isMailAddress(text))
            return Result<Destination>::failure("not a plain mail address (local@domain): " +
                                                shown);
    } else if (!splitUrl(text)) {
        return Result<Destination>::failure("not an http or https URL with a host: " + shown);
    }
    return Result<Destination>::success({kind, std::string(text)});
}

std::string publicTarget(const Destination& dest) {
    if (dest.kind == ChannelKind::Mail) return dest.target;
    const auto url = splitUrl(dest.target);
    if (!url) return "(not a URL)";
    return url->scheme + "://" + url->host + (url->port.empty() ? "" : ":" + url->port) + url->path;
}

std::string headerText(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else if (u >= 0x20 && u != 0x7F) {
            out += c;
        }
    }
    out = trimmed(std::move(out));
    out.resize(wholeCharacters(out, kMaxHeaderText));
    return out;
}

std::string encodedWords(std::string_view text, std::string_view fold) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
    if (plain && text.find("=?") == std::string_view::npos) return std::string(text);
    std::string out;
    while (!text.empty()) {
        const std::size_t n = wholeCharacters(text, kEncodedChunk);
        if (!out.empty()) out += fold;
        out += "=?UTF-8?B?" + base64(text.substr(0, n)) + "?=";
        text.remove_prefix(n);
    }
    return out;
}

int ntfyPriority(const Message& message) {
    if (message.urgent) return 5;
    if (message.kind == "summary") return 2;
    return 3;
}

std::vector<Header> ntfyHeaders(const Message& message) {
    std::vector<Header> headers;
    if (const std::string title = headerText(message.title); !title.empty())
        headers.push_back({"Title", encodedWords(title, " ")});
    headers.push_back({"Priority", std::to_string(ntfyPriority(message))});
    std::string tags;
    for (const std::string& tag : message.tags) {
        std::string t = headerText(tag);
        std::erase(t, ',');
        t = trimmed(std::move(t));
        if (t.empty()) continue;
        if (!tags.empty()) tags += ',';
        tags += t;
    }
    if (!tags.empty()) headers.push_back({"Tags", encodedWords(tags, " ")});
    if (const std::string click = headerText(message.click); !click.empty())
        headers.push_back({"Click", asciiLink(click)});
    return headers;
}

std::string mailText(const Message& message, const std::string& to) {
    std::string subject = headerText(message.title);
    if (subject.empty()) subject = "LINEWARDEN " + headerText(message.kind);
    std::string mail = "To: " + headerText(to) + "\n";
    mail += "Subject: " + encodedWords(subject, "\n ") + "\n";
    mail +=
        "MIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=utf-8\n"
        "Content-Transfer-Encoding: 8bit\n"
        "Auto-Submitted: auto-generated\n"
        "\n";
    std::string body = message.text;
    if (!message.click.empty()) {
        if (!body.empty() && body.back() != '\n') body += '\n';
        body += "\n" + headerText(message.click) + "\n";
    }
    // LF ends only; a long line is cut into pieces the mail system carries.
    std::string_view rest = body;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        std::string clean;
        for (char c : line)
            if (c != '\r') clean += c;
        std::string_view piece = clean;
        do {
            const std::size_t n = wholeCharacters(piece, kMaxMailLine);
            mail += std::string(piece.substr(0, n)) + "\n";
            piece.remove_prefix(n);
        } while (!piece.empty());
    }
    return mail;
}

std::string deliveriesJson(const std::deque<Delivery>& log, const std::vector<Destination>& destinations,
                           const std::function<std::string(std::int64_t)>& timeText) {
    std::string out = "[";
    for (const Delivery& d : log) {
        const Destination& dest = destinations.at(d.channel);
        const Message empty;
        const Message& m = d.message ? *d.message : empty;
        if (out.size() > 1) out += ',';
        out += "{\"id\":" + std::to_string(d.id) + ",\"channel\":\"" + channelName(dest.kind) +
               "\",\"target\":" + jsonQuote(publicTarget(dest)) + ",\"site\":" + jsonQuote(m.site) +
               ",\"kind\":" + jsonQuote(m.kind) + ",\"title\":" + jsonQuote(headerText(m.title)) +
               ",\"queued\":" + jsonQuote(timeText(d.queuedMs)) +
               ",\"sent\":" + (d.sentMs ? jsonQuote(timeText(*d.sentMs)) : "null") +
               ",\"attempts\":" + std::to_string(d.attempts) + ",\"state\":\"" +
               stateName(d.state) +
               "\",\"error\":" + (d.error.empty() ? "null" : jsonQuote(d.error)) + "}";
    }
    return out + "]";
}

std::string statusJson(const DeliveryQueue& queue, const std::vector<Destination>& destinations) {
    std::string problem = "null";
    for (std::size_t i = 0; i < queue.channels(); ++i) {
        if (const auto p = queue.problem(i)) {
            problem = jsonQuote("notify " + channelName(destinations.at(i).kind) + " " +
                                publicTarget(destinations.at(i)) + ": " + *p);
            break;
        }
    }
    return "{\"channels\":" + std::to_string(queue.channels()) +
           ",\"pending\":" + std::to_string(queue.pending()) +
           ",\"failed\":" + std::to_string(queue.failed()) +
           ",\"dropped\":" + std::to_string(queue.dropped()) + ",\"problem\":" + problem + "}";
}

}  // namespace lw::notify
