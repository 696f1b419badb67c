#include "service/homeassistant.h"

#include <QEventLoop>
#include <QRandomGenerator>
#include <set>

#include "core/monitorsession.h"
#include "core/version.h"
#include "net/mqtt/credentials.h"
#include "net/mqtt/link.h"
#include "service/mqtt/publisher.h"

namespace lw::service {

ha::DiscoverySetup haSetup(const ServiceOptions& o) {
    ha::DiscoverySetup s;
    s.discoveryPrefix = o.haDiscovery;
    s.topicBase = o.mqttPrefix + '/' + o.site;
    s.site = o.site;
    s.siteDevice = {"LINEWARDEN", std::string(kServiceName), std::string(kProgramVersion)};
    s.unitDevice = {"KX-40", "KX-40 film-show automation unit", o.softwareVersion.value_or("")};
    s.origin = std::string(kServiceName);
    return s;
}

HaFeed::HaFeed(MonitorService& service, mqtt::Publisher& publisher, const ServiceOptions& options,
               QObject* parent)
    : QObject(parent),
      m_service(service),
      m_publisher(publisher),
      m_tracker(haSetup(options)),
      m_random(QRandomGenerator::global()->generate()) {
    m_birth.setSingleShot(true);
    connect(&m_birth, &QTimer::timeout, this, [this] { m_publisher.resendRetained(); });
    connect(&service, &MonitorService::ticked, this, &HaFeed::ticked);
    m_publisher.setMessageHandler(
        [this](const std::string&, const std::string& payload) { status(payload); });
    publish(m_tracker.everything());
}

void HaFeed::ticked() {
    const BoardView view = m_service.session().view();
    std::array<ha::UnitSeen, kSlots> seen;
    for (std::size_t i = 0; i < seen.size(); ++i)
        seen[i] = {view.units[i].state != UnitState::Absent, view.units[i].name};
    publish(m_tracker.update(seen));
}

void HaFeed::status(const std::string& payload) {
    if (payload != ha::kStatusOnline || m_birth.isActive()) return;
    std::uniform_int_distribution<long long> delay(kBirthDelayMin.count(), kBirthDelayMax.count());
    m_birth.start(std::chrono::milliseconds(delay(m_random)));
}

void HaFeed::publish(const std::vector<ha::ConfigMessage>& configs) {
    for (const auto& c : configs) m_publisher.publishRetained(c.topic, c.payload);
}

Result<> removeHaDiscovery(const ServiceOptions& options, const Journal& journal,
                           std::chrono::milliseconds within) {
    mqtt::LinkSettings settings;
    settings.broker = {options.mqttHost, options.mqttPort};
    // Beside the service's own session, never in its place: no will, no "online".
    settings.clientId = options.mqttPrefix + '/' + options.site + "/ha-remove";
    settings.cafile = options.mqttCafile;
    if (!options.mqttCredentials.empty()) {
        auto login = mqtt::readCredentials(options.mqttCredentials);
        if (!login.ok) return Result<>::failure(login.error);
        settings.credentials = std::move(login.value);
    }

    const std::vector<std::string> topics = ha::allConfigTopics(haSetup(options));
    QEventLoop loop;
    std::set<int> waiting;
    std::string failure;
    bool sent = false;
    mqtt::Link* link = nullptr;
    mqtt::LinkEvents events;
    events.connected = [&] {
        if (std::exchange(sent, true)) return;
        for (const std::string& t : topics) {
            const auto handed = link->publish(t, {}, true, 1);
            if (handed.how == mqtt::Link::Handed::How::Refused) {
                failure = "cannot remove " + t + ": " + handed.why;
                loop.quit();
                return;
            }
            waiting.insert(handed.mid);
        }
    };
    events.acknowledged = [&](int mid) {
        if (waiting.erase(mid) != 0 && waiting.empty()) link->close();
    };
    events.unreachable = [&](const std::string& why) {
        journal("MQTT: cannot connect to the broker (" + why + "); retrying");
    };
    events.closed = [&] { loop.quit(); };
    auto made = mqtt::Link::create(std::move(settings), std::move(events));
    if (!made.ok) return Result<>::failure(made.error);
    link = made.value.get();

    QTimer::singleShot(within, &loop, [&] {
        if (failure.empty()) failure = "the broker did not take every removal in time";
        loop.quit();
    });
    link->open();
    loop.exec();
    if (failure.empty() && !waiting.empty()) failure = "the broker closed before every removal";
    if (!failure.empty()) return Result<>::failure("Home Assistant: " + failure);
    journal("Home Assistant: removed the " + std::to_string(topics.size()) + " discovery configs of " +
         options.site + " under " + options.haDiscovery + "/");
    return {};
}

}  // namespace lw::service
