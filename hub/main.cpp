// linewarden-hub: every booth publishing under a broker prefix in one live
// page, with history.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/commandline.h"
#include "hub/hub.h"
#include "hub/huboptions.h"
#include "hub/hubweb.h"
#include "platform/stopsignals.h"

using namespace lw::hub;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string usage = hubUsage();
    if (auto done = lw::cli::standardAnswer(args, kHubName, usage)) return *done;
    const auto parsed = readHubOptions(args);
    if (!parsed.ok) return lw::cli::usageError(kHubName, parsed.error, usage);

    const lw::Journal journal = [](const std::string& line) {
        std::cerr << kHubName << ": " << line << std::endl;
    };
    Hub hub(parsed.value, journal);
    if (const lw::Result<> r = hub.start(); !r.ok) {
        journal(r.error);
        return 1;
    }
    std::unique_ptr<HubWeb> web;
    if (parsed.value.http) {
        web = std::make_unique<HubWeb>(hub, journal);
        if (const lw::Result<> r = web->listen(); !r.ok) {
            journal(r.error);
            return 1;
        }
    }

    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &hub, [&hub, journal] {
        journal("stopping");
        hub.stop();
    });
    QObject::connect(&hub, &Hub::stopped, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    journal("stopped");
    return rc;
}
