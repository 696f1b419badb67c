#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <random>
#include <string>

#include "core/hadiscovery.h"
#include "core/result.h"
#include "service/monitorservice.h"
#include "service/serviceoptions.h"

namespace lw::mqtt {
class Publisher;
}

namespace lw::service {

// This site's discovery setup: HA's prefix, the service's own topics, what the
// device registry shows.
ha::DiscoverySetup haSetup(const ServiceOptions& options);

// Home Assistant discovery through the service's MQTT publisher. The site's
// configs are retained from the first connect on, a unit's once it has been
// heard; all of them go out again, then the current states, a few seconds
// after HA says "online" on its status topic (its birth message, after its
// own restart). States are only ever published by the publisher, on a change
// of meaning: HA's recorder keeps every state it is sent.
class HaFeed final : public QObject {
public:
    // After HA's birth message every booth answers at once unless each waits
    // its own time in this range.
    static constexpr std::chrono::milliseconds kBirthDelayMin{1000};
    static constexpr std::chrono::milliseconds kBirthDelayMax{5000};

    // Before the publisher starts: it subscribes to HA's status topic and
    // holds the site's configs for its first connect.
    HaFeed(MonitorService& service, mqtt::Publisher& publisher, const ServiceOptions& options,
           QObject* parent = nullptr);

private:
    void ticked();
    void status(const std::string& payload);
    void publish(const std::vector<ha::ConfigMessage>& configs);

    MonitorService& m_service;
    mqtt::Publisher& m_publisher;
    ha::DiscoveryTracker m_tracker;
    QTimer m_birth;
    std::minstd_rand m_random;
};

// --ha-remove: an empty retained config on every discovery topic this site
// can have, so HA drops its devices and the broker keeps nothing for them;
// returns once the broker has acknowledged each, or why not within `within`.
// The site's other topics are left alone.
Result<> removeHaDiscovery(const ServiceOptions& options, const Journal& journal,
                           std::chrono::milliseconds within = std::chrono::seconds(20));

}  // namespace lw::service
