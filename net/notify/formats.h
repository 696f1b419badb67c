#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "net/notify/deliveryqueue.h"
#include "net/notify/message.h"

// What each channel puts on the wire, and the notifications' JSON: plain
// text in, text out, so every rule is tested without a socket or a process.
namespace lw::notify {

// "webhook", "ntfy", "mail".
std::string channelName(ChannelKind kind);

// A channel from its option text: an http or https URL with a host for the
// webhook and ntfy (a login in the URL is sent as HTTP basic authentication),
// a plain addr-dest (local@domain, nothing else) for mail.
Result<Destination> parseChannel(ChannelKind kind, std::string_view text);

// The target as shown to anyone: scheme://host[:port]/path without login,
// query or fragment; a mail address as it is.
std::string publicTarget(const Destination& dest);

// One line fit for a header: CR, LF and tabs become blanks, other control
// characters go, runs of blanks become one, blanks around are trimmed, at
// most 200 bytes (whole UTF-8 characters).
std::string headerText(std::string_view text);

// `text` as RFC 2047 "=?UTF-8?B?...?=" words joined by `fold` when it holds
// anything but printable ASCII (or "=?"); as it is otherwise.
std::string encodedWords(std::string_view text, std::string_view fold);

// ntfy priority 1..5: urgent 5; a summary 2 (no sound); anything else 3.
int ntfyPriority(const Message& message);

struct Header {
    std::string name;
    std::string value;
};
// Title, Priority, Tags and Click (when there are any) for an ntfy publish.
std::vector<Header> ntfyHeaders(const Message& message);

// The whole mail for `sendmail -t`: headers, a blank line, the text with the
// click link after it; LF line ends, lines no longer than 998 bytes.
std::string mailText(const Message& message, const std::string& to);

// The deliveries as /api/notifications shows them, oldest first; `timeText`
// turns a queue time into "YYYY-MM-DDTHH:MM:SS+HH:MM".
std::string deliveriesJson(const std::deque<Delivery>& log, const std::vector<Destination>& destinations,
                           const std::function<std::string(std::int64_t)>& timeText);

// {"channels":N,"pending":N,"failed":N,"dropped":N,"problem":TEXT|null}
std::string statusJson(const DeliveryQueue& queue, const std::vector<Destination>& destinations);

}  // namespace lw::notify
