// linewarden-monitor: the bus monitor without a display, for the journal and
// any web browser.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/monitorsession.h"
#include "platform/stopsignals.h"
#include "service/monitorservice.h"
#include "service/mqtt/publisher.h"
#include "service/serviceoptions.h"
#include "service/web/newtoken.h"
#include "service/web/webboard.h"
#include "tools/toolsupport.h"

using namespace lw::service;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (auto done = lw::tools::standardAnswer(a, kServiceName, kServiceUsage)) return *done;
    }
    if (auto done = newTokenCommand(args, std::cout, std::cerr)) return *done;
    const auto parsed = readServiceOptions(args);
    if (!parsed.ok) return lw::tools::usageError(kServiceName, parsed.error, kServiceUsage);
    const ServiceOptions& options = parsed.value;

    const Tell tell = [](const std::string& line) {
        std::cerr << kServiceName << ": " << line << std::endl;
    };
    MonitorService service(options, tell);
    std::unique_ptr<WebBoard> web;
    if (options.http) {
        web = std::make_unique<WebBoard>(service, options, tell);
        const lw::Result<> r = web->listen();
        if (!r.ok) {
            tell(r.error);
            return 1;
        }
    }

    // The board after every decoder tick, every record the log options let
    // through, and a clean goodbye when the service stops.
    std::unique_ptr<lw::mqtt::Publisher> mqtt;
    if (!options.mqttHost.empty()) {
        mqtt = std::make_unique<lw::mqtt::Publisher>(
            lw::mqtt::Settings{.broker = {options.mqttHost, options.mqttPort},
                               .prefix = options.mqttPrefix,
                               .site = options.site,
                               .credentialsFile = options.mqttCredentials,
                               .cafile = options.mqttCafile},
            tell);
        if (const lw::Result<> r = mqtt->start(); !r.ok) {
            tell(r.error);
            return 1;
        }
        lw::mqtt::Publisher* p = mqtt.get();
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
