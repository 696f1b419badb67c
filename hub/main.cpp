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
#include "net/notify/notifier.h"
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
    const HubOptions& o = parsed.value;
    Hub hub(o, journal);
    std::unique_ptr<HubWeb> web;
    if (o.http) {
        web = std::make_unique<HubWeb>(hub, journal);
        if (const lw::Result<> r = web->listen(); !r.ok) {
            journal(r.error);
            return 1;
        }
        if (o.pageUrl.empty()) hub.setPageUrl(web->url());
    }
    std::vector<lw::notify::Destination> channels;
    for (const auto& [kind, targets] : {std::pair{lw::notify::ChannelKind::Webhook, &o.notifyWebhook},
                                        std::pair{lw::notify::ChannelKind::Ntfy, &o.notifyNtfy},
                                        std::pair{lw::notify::ChannelKind::Mail, &o.notifyMail}}) {
        for (const std::string& t : *targets) channels.push_back({kind, t});
    }
    std::unique_ptr<lw::notify::Notifier> notifier;
    if (!channels.empty()) {
        notifier = std::make_unique<lw::notify::Notifier>(std::move(channels), journal,
                                                          lw::notify::MailProgram{o.sendmail, {"-t", "-oi"}});
        QObject::connect(&hub, &Hub::notice, notifier.get(), &lw::notify::Notifier::send);
        if (web) {
            web->setNotifications([n = notifier.get()] { return n->notificationsJson(); },
                                  [n = notifier.get()] { return n->statusJson(); });
        }
    }
    if (const lw::Result<> r = hub.start(); !r.ok) {
        journal(r.error);
        return 1;
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
