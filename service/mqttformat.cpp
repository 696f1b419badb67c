#include "service/mqttformat.h"

#include "core/boardjson.h"

namespace lw::mqtt {

Topics::Topics(std::string_view prefix, std::string_view site)
    : m_base(std::string(prefix) + "/" + std::string(site) + "/"),
      m_online(m_base + "online"),
      m_bus(m_base + "bus"),
      m_record(m_base + "record") {}

std::string Topics::unit(int n) const { return m_base + "unit/" + std::to_string(n); }

namespace {

// Why one piece of a topic is unfit, or empty.
std::string partError(std::string_view what, std::string_view text, bool levels) {
    if (text.empty()) return std::string(what) + " is empty";
    for (const char c : text) {
        if (c == '+' || c == '#') return std::string(what) + " holds the wildcard '" + c + "'";
        if (c == '\0') return std::string(what) + " holds a NUL character";
        if (c == '/' && !levels) return std::string(what) + " holds '/'";
    }
    if (text.front() == '/' || text.back() == '/' || text.find("//") != std::string_view::npos) {
        return std::string(what) + " has an empty level";
    }
    return {};
}

}  // namespace

std::string topicError(std::string_view prefix, std::string_view site) {
    std::string why = partError("the MQTT prefix", prefix, true);
    if (why.empty()) why = partError("the site name", site, false);
    return why;
}

std::string busJson(bool remote, bool noise, std::string_view port) {
    return std::string("{\"remote\":") + (remote ? "true" : "false") +
           ",\"noise\":" + (noise ? "true" : "false") + ",\"port\":\"" + jsonEscape(port) + "\"}";
}

Result<Credentials> parseCredentials(std::string_view fileText) {
    auto line = [&fileText]() {
        const auto nl = fileText.find('\n');
        std::string_view l = fileText.substr(0, nl);
        fileText = nl == std::string_view::npos ? std::string_view{} : fileText.substr(nl + 1);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        return std::string(l);
    };
    Credentials c;
    c.user = line();
    c.password = line();
    if (c.user.empty())
        return Result<Credentials>::failure("the first line (the user) is empty", 1);
    return Result<Credentials>::success(std::move(c));
}

std::vector<RetainedUpdate> RetainedTracker::update(const UnitBoard& board, std::string_view port,
                                                    std::chrono::milliseconds now) {
    std::vector<RetainedUpdate> out;
    for (int i = 0; i < kSlots; ++i) {
        const UnitSlot& s = board.slots[static_cast<std::size_t>(i)];
        Sent& sent = m_units[static_cast<std::size_t>(i)];
        const std::string panel = s.panel.text();
        const std::string lamp = s.lamp.text();
        const bool others = s.name != sent.name || s.status != sent.status || panel != sent.panel ||
                            lamp != sent.lamp;
        const bool clock = s.clock != sent.clock;
        const bool due = !s.clockrunning || now - sent.at >= kClockInterval;
        if (!m_first && !others && !(clock && due)) continue;
        sent = Sent{s.name, s.status, s.clock, panel, lamp, now};
        out.push_back({i, "{\"name\":\"" + jsonEscape(s.name) + "\",\"status\":\"" +
                              jsonEscape(s.status) + "\",\"clock\":\"" + jsonEscape(s.clock) +
                              "\",\"panel\":\"" + panel + "\",\"lamp\":\"" + lamp + "\"}"});
    }
    std::string bus = busJson(board.remoteLit(), board.noiseLit(), port);
    if (m_first || bus != m_bus) {
        m_bus = bus;
        out.push_back({kBusSlot, std::move(bus)});
    }
    m_first = false;
    return out;
}

}  // namespace lw::mqtt
