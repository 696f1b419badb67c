#include "service/metricsource.h"

#include "core/monitorsession.h"
#include "platform/processstats.h"
#include "service/monitorservice.h"

namespace lw::service {

MetricSource::MetricSource(MonitorService& service, const ServiceOptions& options, QObject* parent)
    : QObject(parent), m_service(service), m_site(options.site) {
    connect(&service, &MonitorService::recordAdded, this,
            [this](const ServiceRecord& r) { m_records.add(r.kind); });
}

std::string MetricSource::text() const {
    prometheus::Sample s;
    s.site = m_site;
    s.board = m_service.session().view();
    s.records = m_records.counts();
    s.logWriteFailures = m_service.session().recordsDropped();
    if (mqtt) s.mqtt = mqtt();
    if (httpClients) s.httpClients = httpClients();
    s.process = readProcessSample();
    return prometheus::exposition(s);
}

}  // namespace lw::service
