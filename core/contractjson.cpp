#include "core/contractjson.h"

#include "core/boardjson.h"
#include "core/timetext.h"

namespace lw {

namespace {

std::string quoted(std::string_view text) { return '"' + jsonEscape(text) + '"'; }
std::string orNull(std::string_view text) { return text.empty() ? "null" : quoted(text); }
const char* boolean(bool b) { return b ? "true" : "false"; }

}  // namespace

std::string unitFields(const UnitView& u, bool nameAndClock) {
    std::string out = "\"unit\":" + std::to_string(u.unit);
    if (nameAndClock) out += ",\"name\":" + quoted(u.name);
    out += ",\"state\":" + quoted(stateName(u.state));
    out += ",\"interlock\":";
    out += boolean(u.interlock);
    out += ",\"cause\":" + orNull(u.cause);
    out += ",\"words\":" + quoted(u.words);
    if (nameAndClock) out += ",\"clock\":" + quoted(u.clock);
    out += ",\"since\":" + quoted(isoText(u.since));
    out += ",\"show_started\":" + (u.showStarted ? quoted(isoText(*u.showStarted)) : "null");
    return out;
}

std::string unitDocJson(const UnitView& unit, const ZonedTime& at) {
    return '{' + unitFields(unit) + ",\"at\":" + quoted(isoText(at)) + '}';
}

std::string busDocJson(const BusView& bus, const ZonedTime& at) {
    std::string out = "{\"remote\":";
    out += boolean(bus.remote);
    out += ",\"noise\":";
    out += boolean(bus.noise);
    out += ",\"port\":" + quoted(portName(bus.port)) +
           ",\"port_since\":" + quoted(isoText(bus.portSince)) + ",\"at\":" + quoted(isoText(at)) +
           '}';
    return out;
}

std::string eventJson(const BoardEvent& e) {
    const bool unit = e.unit >= 1;
    std::string out = "{\"kind\":" + quoted(eventName(e.kind));
    out += ",\"unit\":" + (unit ? std::to_string(e.unit) : std::string("null"));
    out += ",\"name\":" + (unit ? quoted(e.name) : std::string("null"));
    out += ",\"interlock\":";
    out += boolean(e.interlock);
    out += ",\"cause\":" + orNull(e.cause);
    out += ",\"clock\":" + (unit ? quoted(e.clock) : std::string("null"));
    out += ",\"at\":" + quoted(isoText(e.at)) + ",\"seq\":" + std::to_string(e.seq);
    if (!e.text.empty()) out += ",\"text\":" + quoted(e.text);
    out += '}';
    return out;
}

std::vector<RetainedDoc> MeaningTracker::update(const BoardView& view) {
    std::vector<RetainedDoc> out;
    for (std::size_t i = 0; i < kSlots; ++i) {
        const UnitView& u = view.units[i];
        const UnitMeaning now{u.name, u.state, u.interlock, u.cause};
        if (m_units[i] == now) continue;
        m_units[i] = now;
        out.push_back({u.unit, unitDocJson(u, view.at)});
    }
    const BusMeaning bus{view.bus.port, view.bus.remote};
    if (m_bus != bus) {
        m_bus = bus;
        out.push_back({0, busDocJson(view.bus, view.at)});
    }
    return out;
}

}  // namespace lw
