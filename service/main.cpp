// linewarden-monitor: the bus monitor without a display, for the journal and
// any web browser.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/commandline.h"
#include "core/monitorsession.h"
#include "platform/stopsignals.h"
#include "service/homeassistant.h"
#include "service/metricsource.h"
#include "service/monitorservice.h"
#include "service/mqtt/publisher.h"
#include "service/serviceoptions.h"
#include "service/web/newtoken.h"
#include "service/web/webboard.h"

using namespace lw::service;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (auto done = lw::cli::standardAnswer(args, kServiceName, serviceUsage())) return *done;
    if (auto done = newTokenCommand(args, std::cout, std::cerr)) return *done;
    const auto parsed = readServiceOptions(args);
    if (!parsed.ok) return lw::cli::usageError(kServiceName, parsed.error, serviceUsage());
    const ServiceOptions& options = parsed.value;

    const lw::Journal journal = [](const std::string& line) {
        std::cerr << kServiceName << ": " << line << std::endl;
    };
    if (options.haRemove) {
        const lw::Result<> r = removeHaDiscovery(options, journal);
        if (!r.ok) journal(r.error);
        return r.ok ? 0 : 1;
    }
    MonitorService service(options, journal);
    std::unique_ptr<MetricSource> metrics;
    if (options.metrics) metrics = std::make_unique<MetricSource>(service, options);
    std::unique_ptr<WebBoard> web;
    if (options.http) {
        web = std::make_unique<WebBoard>(service, options, journal);
        if (metrics) {
            WebBoard* w = web.get();
            metrics->httpClients = [w] { return static_cast<std::uint64_t>(w->clients()); };
            web->setMetrics([m = metrics.get()] { return m->text(); });
        }
        const lw::Result<> r = web->listen();
        if (!r.ok) {
            journal(r.error);
            return 1;
        }
    }

    // The board after every decoder tick, every record the log options let
    // through, and a clean goodbye when the service stops.
    std::unique_ptr<lw::mqtt::Publisher> mqtt;
    std::unique_ptr<HaFeed> ha;
    if (!options.mqttHost.empty()) {
        std::vector<std::string> haStatus;
        if (!options.haDiscovery.empty())
            haStatus.push_back(lw::ha::statusTopic(options.haDiscovery));
        mqtt = std::make_unique<lw::mqtt::Publisher>(
            lw::mqtt::Settings{.broker = {options.mqttHost, options.mqttPort},
                               .prefix = options.mqttPrefix,
                               .site = options.site,
                               .credentialsFile = options.mqttCredentials,
                               .cafile = options.mqttCafile,
                               .subscriptions = haStatus},
            journal);
        if (!options.haDiscovery.empty()) {
            // HA's birth message asks for the configs again.
            ha = std::make_unique<HaFeed>(service, *mqtt, options);
        }
        if (const lw::Result<> r = mqtt->start(); !r.ok) {
            journal(r.error);
            return 1;
        }
        lw::mqtt::Publisher* p = mqtt.get();
        if (metrics) {
            metrics->mqtt = [p] {
                const lw::mqtt::Stats s = p->stats();
                return lw::prometheus::MqttSample{s.connected, s.queued};
            };
        }
        QObject::connect(&service, &MonitorService::ticked, &service,
                         [&service, p] { p->publishBoard(service.session().view()); });
        QObject::connect(&service, &MonitorService::eventAdded, &service,
                         [p](const lw::BoardEvent& e) { p->publishEvent(e); });
        QObject::connect(&service, &MonitorService::recordAdded, &service,
                         [p](const ServiceRecord& r) { p->publishRecord(r.text); });
        QObject::connect(&service, &MonitorService::stopped, &service, [p] { p->stop(); });
    }

    // Delivered between events, so the tick in hand finishes first.
    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &service, &MonitorService::stop);
    QObject::connect(&service, &MonitorService::stopped, &app, &QCoreApplication::quit);
    service.start();
    return app.exec();
}
