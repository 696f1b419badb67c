// linewarden-hub: every booth publishing under a broker prefix in one live
// page, with history.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hub/hub.h"
#include "hub/huboptions.h"
#include "hub/hubweb.h"
#include "platform/stopsignals.h"
#include "tools/toolsupport.h"

using namespace lw::hub;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string usage = hubUsage();
    for (const std::string& a : args) {
        if (auto done = lw::tools::standardAnswer(a, kHubName, usage)) return *done;
    }
    const auto parsed = readHubOptions(args);
    if (!parsed.ok) return lw::tools::usageError(kHubName, parsed.error, usage);

    const Tell tell = [](const std::string& line) {
        std::cerr << kHubName << ": " << line << std::endl;
    };
    Hub hub(parsed.value, tell);
    if (const lw::Result<> r = hub.start(); !r.ok) {
        tell(r.error);
        return 1;
    }
    std::unique_ptr<HubWeb> web;
    if (parsed.value.http) {
        web = std::make_unique<HubWeb>(hub, tell);
        if (const lw::Result<> r = web->listen(); !r.ok) {
            tell(r.error);
            return 1;
        }
    }

    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &hub, [&hub, tell] {
        tell("stopping");
        hub.stop();
    });
    QObject::connect(&hub, &Hub::stopped, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    tell("stopped");
    return rc;
}
