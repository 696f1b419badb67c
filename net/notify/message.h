#pragma once

#include <string>
#include <vector>

namespace lw::notify {

// One notification as the hub words it; every channel takes what it needs.
struct Message {
    std::string site;  // may be empty for a chain-wide summary
    std::string kind;  // "opened", "reminder", "cleared", "flapping", "summary"
    bool urgent = false;
    std::string title;              // one line; cleaned again before any header use
    std::string text;               // plain text, lines separated by \n
    std::vector<std::string> tags;  // ntfy tags, e.g. "rotating_light"
    std::string click;              // URL of the site's page; may be empty
    std::string json;               // the webhook document, POSTed as is
};

enum class ChannelKind { Webhook, Ntfy, Mail };

// Where one channel delivers: a URL (webhook, ntfy topic) or a mail address.
struct Destination {
    ChannelKind kind = ChannelKind::Webhook;
    std::string target;
};

}  // namespace lw::notify
