#include "service/mqttfeed.h"

#include <QCoreApplication>
#include <QFile>

#include "core/monitorsession.h"
#include "service/mqttpublisher.h"
#include "service/serviceoptions.h"

namespace lw::service {

namespace {

// A credentials file is two short lines; more is not read.
constexpr qint64 kCredentialsMax = 4096;

Result<mqtt::Credentials> readCredentials(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        return Result<mqtt::Credentials>::failure(path + ": cannot read the file");
    }
    auto c = mqtt::parseCredentials(f.read(kCredentialsMax).toStdString());
    if (!c.ok) c.error = path + ": " + c.error;
    return c;
}

}  // namespace

MqttFeed::MqttFeed(MonitorService& service, Journal tell)
    : m_service(service), m_tell(std::move(tell)) {}

MqttFeed::~MqttFeed() { stop(); }

Result<std::unique_ptr<MqttFeed>> MqttFeed::start(MonitorService& service,
                                                  const ServiceOptions& options, Journal tell) {
    using R = Result<std::unique_ptr<MqttFeed>>;
    mqtt::Settings s;
    s.broker = {options.mqttHost, options.mqttPort};
    s.prefix = options.mqttPrefix;
    s.site = options.site;
    s.cafile = options.mqttCafile;
    if (!options.mqttCredentials.empty()) {
        auto c = readCredentials(options.mqttCredentials);
        if (!c.ok) return R::failure(c.error);
        s.credentials = std::move(c.value);
    }

    std::unique_ptr<MqttFeed> feed(new MqttFeed(service, tell));
    MqttFeed* self = feed.get();
    // The publisher tells from its own thread; the journal is written from
    // the service's, one whole line at a time.
    feed->m_publisher =
        std::make_unique<mqtt::Publisher>(std::move(s), [self](const std::string& l) {
            QMetaObject::invokeMethod(
                self, [self, l] { self->m_tell(l); }, Qt::QueuedConnection);
        });
    const Result<> started = feed->m_publisher->start();
    if (!started.ok) return R::failure(started.error);

    connect(&service, &MonitorService::ticked, self, [self] {
        self->m_publisher->board(self->m_service.session().board(),
                                 PortKeeper::stateText(self->m_service.portState()));
    });
    connect(&service, &MonitorService::recordAdded, self,
            [self](const ServiceRecord& r) { self->m_publisher->record(r.text); });
    connect(&service, &MonitorService::stopped, self, [self] { self->stop(); });
    return R::success(std::move(feed));
}

void MqttFeed::stop() {
    if (!m_publisher) return;
    m_publisher->stop();
    m_publisher.reset();
    // Lines told while stopping, before the event loop ends.
    QCoreApplication::sendPostedEvents(this);
}

}  // namespace lw::service
