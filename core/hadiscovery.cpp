#include "core/hadiscovery.h"

#include <span>

#include "core/boardjson.h"
#include "core/unitboard.h"
#include "core/unitcontract.h"

namespace lw::ha {

namespace {

// JSON string body for UTF-8 text (a site, a topic): quote, backslash and
// control characters escaped, everything else as it is.
std::string utf8Json(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

// A JSON object written key by key, in the order given.
class Object {
public:
    Object& text(std::string_view key, std::string_view utf8) {
        return raw(key, '"' + utf8Json(utf8) + '"');
    }
    Object& list(std::string_view key, std::span<const std::string_view> items) {
        std::string v = "[";
        for (const auto item : items) v += (v.size() > 1 ? ",\"" : "\"") + utf8Json(item) + '"';
        return raw(key, v + ']');
    }
    Object& raw(std::string_view key, std::string_view json) {
        m_text += m_text.size() > 1 ? ",\"" : "\"";
        m_text += key;
        m_text += "\":";
        m_text += json;
        return *this;
    }
    std::string done() const { return m_text + '}'; }

private:
    std::string m_text = "{";
};

// Which of the service's topics an entity reads.
enum class Source { Unit, Bus, Online, Event };

struct Entity {
    std::string_view component;
    std::string_view key;  // the last part of its ids
    std::string_view name;
    std::string_view deviceClass;  // empty: none
    Source source;
    std::string_view valueTemplate;  // empty: the payload as it is
};

std::vector<std::string_view> portNames() {
    return {portName(PortState::Open), portName(PortState::Lost), portName(PortState::Closed)};
}

// A show is under way from its start until it has ended.
constexpr std::array kUnitEntities = {
    Entity{"sensor", "state", "State", "enum", Source::Unit, "{{ value_json.state }}"},
    Entity{"binary_sensor", "failed", "Failed", "problem", Source::Unit,
           "{{ 'ON' if value_json.state == 'failed' else 'OFF' }}"},
    Entity{"binary_sensor", "running", "Show running", "running", Source::Unit,
           "{{ 'ON' if value_json.state in ['starting', 'running', 'closing'] else 'OFF' }}"},
    Entity{"sensor", "show_started", "Show started", "timestamp", Source::Unit,
           "{{ value_json.show_started }}"},
};

// Noise turns the entity on; it goes off this long after the last noise
// event, a little over the board's noise lamp (5 ticks of 800 ms).
constexpr std::string_view kNoiseOffDelaySeconds = "5";

constexpr std::array kSiteEntities = {
    Entity{"binary_sensor", "online", "Online", "connectivity", Source::Online, ""},
    Entity{"binary_sensor", "remote", "Master remote", "", Source::Bus,
           "{{ 'ON' if value_json.remote else 'OFF' }}"},
    // The bus document leaves the noise lamp out: noise is heard on the
    // event topic, one event a tick while it lasts.
    Entity{"binary_sensor", "noise", "Bus noise", "problem", Source::Event,
           "{{ 'ON' if value_json.kind == 'noise' else '' }}"},
    Entity{"sensor", "port", "Bus port", "enum", Source::Bus, "{{ value_json.port }}"},
    // HA reads an event's type and attributes from one JSON object.
    Entity{"event", "event", "Event", "", Source::Event,
           "{{ dict(value_json, event_type=value_json.kind) | tojson }}"},
};

// The unit's meaning beside its state: HA keeps these as attributes.
constexpr std::string_view kUnitAttributes =
    "{{ {'name': value_json.name, 'interlock': value_json.interlock, "
    "'cause': value_json.cause, 'since': value_json.since, "
    "'show_started': value_json.show_started} | tojson }}";

// HA's object and node ids take [a-zA-Z0-9_-] only.
std::string topicId(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return out;
}

// An entity id's object part: lower case letters and digits, single
// underscores between them.
std::string slug(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9')) {
            out += lower;
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out;
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return std::string(s);
}

std::string siteId(const DiscoverySetup& s) { return "linewarden_" + s.site; }
std::string unitKey(int n) { return "u" + std::to_string(n); }

std::string device(const DiscoverySetup& s, int unit, std::string_view unitName) {
    Object d;
    if (unit == 0) {
        d.list("identifiers", std::array<std::string_view, 1>{siteId(s)}).text("name", s.site);
        d.text("manufacturer", s.siteDevice.manufacturer).text("model", s.siteDevice.model);
        d.text("sw_version", s.siteDevice.swVersion);
        return d.done();
    }
    const std::string id = siteId(s) + '_' + unitKey(unit);
    const std::string plain = s.site + " unit " + std::to_string(unit);
    // An unnamed unit's caption is its number: the plain name says that already.
    const std::string name = trimmed(unitName);
    const bool named = !name.empty() && name != std::to_string(unit);
    d.list("identifiers", std::array<std::string_view, 1>{id});
    d.raw("name",
          '"' + (named ? jsonEscape(name) + " (" + utf8Json(plain) + ')' : utf8Json(plain)) + '"');
    d.text("manufacturer", s.unitDevice.manufacturer).text("model", s.unitDevice.model);
    d.text("sw_version", s.unitDevice.swVersion).text("via_device", siteId(s));
    return d.done();
}

std::string topicOf(const DiscoverySetup& s, Source source, int unit) {
    switch (source) {
        case Source::Unit:
            return s.topicBase + "/unit/" + std::to_string(unit);
        case Source::Bus:
            return s.topicBase + "/bus";
        case Source::Online:
            return s.topicBase + "/online";
        case Source::Event:
            return s.topicBase + "/event";
    }
    return {};
}

// unit 0: the site.
std::string configTopic(const DiscoverySetup& s, const Entity& e, int unit) {
    const std::string object =
        unit == 0 ? std::string(e.key) : unitKey(unit) + '_' + std::string(e.key);
    return s.discoveryPrefix + '/' + std::string(e.component) + '/' + topicId(siteId(s)) + '/' +
           object + "/config";
}

ConfigMessage config(const DiscoverySetup& s, const Entity& e, int unit,
                     std::string_view unitName) {
    const std::string key =
        unit == 0 ? std::string(e.key) : unitKey(unit) + '_' + std::string(e.key);
    const std::string uniqueId = siteId(s) + '_' + key;
    Object c;
    c.text("name", e.name).text("unique_id", uniqueId);
    c.text("default_entity_id",
           std::string(e.component) + ".linewarden_" + slug(s.site) + '_' + key);
    if (!e.deviceClass.empty()) c.text("device_class", e.deviceClass);
    c.text("state_topic", topicOf(s, e.source, unit));
    if (!e.valueTemplate.empty()) c.text("value_template", e.valueTemplate);
    if (e.source == Source::Online) {
        c.text("payload_on", "1").text("payload_off", "0");
    } else {
        // Everything but connectivity itself is unknown while the site is away.
        c.text("availability_topic", topicOf(s, Source::Online, 0));
        c.text("payload_available", "1").text("payload_not_available", "0");
    }
    if (e.key == "state") {
        c.list("options", unitStateNames());
        c.text("json_attributes_topic", topicOf(s, Source::Unit, unit));
        c.text("json_attributes_template", kUnitAttributes);
    }
    if (e.key == "port") c.list("options", portNames());
    if (e.component == "event") c.list("event_types", eventKindNames());
    if (e.key == "noise") c.raw("off_delay", kNoiseOffDelaySeconds);
    if (e.source == Source::Event) c.raw("qos", "1");  // as the events are published
    c.raw("device", device(s, unit, unitName));
    Object origin;
    origin.text("name", s.origin).text("sw_version", s.siteDevice.swVersion);
    c.raw("origin", origin.done());
    return {configTopic(s, e, unit), c.done()};
}

}  // namespace

std::vector<std::string_view> unitStateNames() {
    std::vector<std::string_view> out;
    for (int s = 0; s <= static_cast<int>(UnitState::Failed); ++s)
        out.push_back(stateName(static_cast<UnitState>(s)));
    return out;
}

std::vector<std::string_view> eventKindNames() {
    std::vector<std::string_view> out;
    // log_failed stays with the web board: the event topic never carries it.
    for (int k = 0; k <= static_cast<int>(EventKind::BusBack); ++k)
        out.push_back(eventName(static_cast<EventKind>(k)));
    return out;
}

std::vector<ConfigMessage> siteConfigs(const DiscoverySetup& setup) {
    std::vector<ConfigMessage> out;
    for (const Entity& e : kSiteEntities) out.push_back(config(setup, e, 0, {}));
    return out;
}

std::vector<ConfigMessage> unitConfigs(const DiscoverySetup& setup, int n, std::string_view name) {
    std::vector<ConfigMessage> out;
    for (const Entity& e : kUnitEntities) out.push_back(config(setup, e, n, name));
    return out;
}

std::vector<ConfigMessage> DiscoveryTracker::update(const std::array<UnitSeen, kSlots>& units) {
    std::vector<ConfigMessage> out;
    for (int i = 0; i < kSlots; ++i) {
        const UnitSeen& seen = units[static_cast<std::size_t>(i)];
        Heard& h = m_units[static_cast<std::size_t>(i)];
        if (!(seen.present && !h.heard) && !(h.heard && seen.name != h.name)) continue;
        h = {true, seen.name};
        for (auto& m : unitConfigs(m_setup, i + 1, h.name)) out.push_back(std::move(m));
    }
    return out;
}

std::vector<ConfigMessage> DiscoveryTracker::everything() const {
    std::vector<ConfigMessage> out = siteConfigs(m_setup);
    for (int i = 0; i < kSlots; ++i) {
        const Heard& h = m_units[static_cast<std::size_t>(i)];
        if (!h.heard) continue;
        for (auto& m : unitConfigs(m_setup, i + 1, h.name)) out.push_back(std::move(m));
    }
    return out;
}

std::vector<std::string> allConfigTopics(const DiscoverySetup& setup) {
    std::vector<std::string> out;
    for (const Entity& e : kSiteEntities) out.push_back(configTopic(setup, e, 0));
    for (int n = 1; n <= kSlots; ++n) {
        for (const Entity& e : kUnitEntities) out.push_back(configTopic(setup, e, n));
    }
    return out;
}

std::string statusTopic(std::string_view discoveryPrefix) {
    return std::string(discoveryPrefix) + "/status";
}

std::string discoveryPrefixError(std::string_view prefix) {
    if (prefix.empty()) return "the discovery prefix is empty";
    for (const char c : prefix) {
        if (c == '+' || c == '#' || c == '\0')
            return "the discovery prefix holds a wildcard or NUL character";
    }
    if (prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find("//") != std::string_view::npos) {
        return "the discovery prefix has an empty level";
    }
    return {};
}

}  // namespace lw::ha
