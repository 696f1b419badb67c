#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/unitboard.h"

// Home Assistant's MQTT discovery for one booth: the retained config documents
// that make HA create a device per site and per unit, with entities reading the
// topics the service already publishes. Text only; no network here.
namespace lw::ha {

inline constexpr std::string_view kDefaultDiscoveryPrefix = "homeassistant";

// The contract's unit states and the event kinds of the event topic, in
// order: HA's enum options and event types.
std::vector<std::string_view> unitStateNames();
std::vector<std::string_view> eventKindNames();

// What HA's device registry shows about a device.
struct DeviceFacts {
    std::string manufacturer;
    std::string model;
    std::string swVersion;
};

struct DiscoverySetup {
    std::string discoveryPrefix{kDefaultDiscoveryPrefix};
    std::string topicBase;  // PREFIX/SITE, where the service publishes
    std::string site;
    DeviceFacts siteDevice;  // the monitor itself
    DeviceFacts unitDevice;  // a unit on the bus
    std::string origin;      // the publishing program, with siteDevice.swVersion
};

// One retained config: an empty payload removes the entity from HA.
struct ConfigMessage {
    std::string topic;
    std::string payload;
};

// The site's entities: connectivity from `online`, the master remote, the bus
// noise, the bus port and the event entity.
std::vector<ConfigMessage> siteConfigs(const DiscoverySetup& setup);

// Unit n's (1..16) entities: its state, failed, show running and show started.
// The unit's name, Latin-1 as the board holds it, only names the device.
std::vector<ConfigMessage> unitConfigs(const DiscoverySetup& setup, int n, std::string_view name);

// Every config topic this site can have, units never heard included: the
// empty retained payloads that remove the site from HA go here.
std::vector<std::string> allConfigTopics(const DiscoverySetup& setup);

// What the tracker is told of a unit after each tick.
struct UnitSeen {
    bool present = false;  // in any state but absent
    std::string name;
};

// Which configs go out when: the site's and those of every unit heard so far
// at each connect and after HA's birth message; a unit's own the first time it
// is heard, and again when its name changes (the device's name follows). A
// unit never heard has no entities.
class DiscoveryTracker {
public:
    explicit DiscoveryTracker(DiscoverySetup setup) : m_setup(std::move(setup)) {}

    std::vector<ConfigMessage> update(const std::array<UnitSeen, kSlots>& units);
    std::vector<ConfigMessage> everything() const;
    const DiscoverySetup& setup() const { return m_setup; }

private:
    struct Heard {
        bool heard = false;
        std::string name;
    };
    DiscoverySetup m_setup;
    std::array<Heard, kSlots> m_units;
};

// HA's birth and last-will topic, PREFIX/status: "online" means HA has
// (re)started and wants the configs again.
std::string statusTopic(std::string_view discoveryPrefix);
inline constexpr std::string_view kStatusOnline = "online";

// Empty when `prefix` can be a discovery prefix, else why not.
std::string discoveryPrefixError(std::string_view prefix);

}  // namespace lw::ha
