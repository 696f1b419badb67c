// linewarden-monitor: the bus monitor without a display, for the journal and
// any web browser.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/stopsignals.h"
#include "service/monitorservice.h"
#include "service/mqttfeed.h"
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

    std::unique_ptr<MqttFeed> mqtt;
    if (!options.mqttHost.empty()) {
        auto r = MqttFeed::start(service, options, tell);
        if (!r.ok) {
            tell(r.error);
            return 1;
        }
        mqtt = std::move(r.value);
    }

    // Delivered between events, so the tick in hand finishes first.
    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &service, &MonitorService::stop);
    QObject::connect(&service, &MonitorService::stopped, &app, &QCoreApplication::quit);
    service.start();
    return app.exec();
}
