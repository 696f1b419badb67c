#include "service/mqtt/topics.h"

namespace lw::mqtt {

Topics::Topics(std::string_view prefix, std::string_view site)
    : m_base(std::string(prefix) + "/" + std::string(site) + "/"),
      m_online(m_base + "online"),
      m_bus(m_base + "bus"),
      m_record(m_base + "record"),
      m_event(m_base + "event") {}

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

}  // namespace lw::mqtt
