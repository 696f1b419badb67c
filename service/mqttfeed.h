#pragma once

#include <QObject>
#include <memory>

#include "core/result.h"
#include "service/monitorservice.h"

namespace lw::mqtt {
class Publisher;
}

namespace lw::service {

struct ServiceOptions;

// Publishes the running service to its MQTT broker: the board after every
// decoder tick, every record the log options let through, and a clean
// goodbye when the service stops.
class MqttFeed final : public QObject {
public:
    // Reads the credentials file and starts publishing; the broker being away
    // is no error, a bad file or setting is.
    static Result<std::unique_ptr<MqttFeed>> start(MonitorService& service,
                                                   const ServiceOptions& options, Journal tell);
    ~MqttFeed() override;

private:
    MqttFeed(MonitorService& service, Journal tell);
    void stop();

    MonitorService& m_service;
    Journal m_tell;
    std::unique_ptr<mqtt::Publisher> m_publisher;
};

}  // namespace lw::service
