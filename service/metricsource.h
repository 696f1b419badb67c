#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/prometheustext.h"
#include "service/serviceoptions.h"

namespace lw::service {

class MonitorService;

// What GET /metrics answers: the board as the contract tells it, the records
// counted by kind as they come, the log's failed writes, the MQTT link and the
// web listener's clients when there are any, and this process's figures.
class MetricSource final : public QObject {
public:
    MetricSource(MonitorService& service, const ServiceOptions& options, QObject* parent = nullptr);

    // Set by whoever has them; unset, their metrics are left out or 0.
    std::function<prometheus::MqttSample()> mqtt;
    std::function<std::uint64_t()> httpClients;

    std::string text() const;

private:
    MonitorService& m_service;
    std::string m_site;
    prometheus::RecordCounter m_records;
};

}  // namespace lw::service
