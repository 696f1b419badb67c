#include "hub/hub.h"

#include <QDateTime>
#include <QHostInfo>
#include <chrono>
#include <cstdio>
#include <variant>

#include "net/mqtt/credentials.h"
#include "net/mqtt/link.h"

namespace lw::hub {

HubTime hubTimeAt(std::int64_t ms, int offset) {
    const std::int64_t local = ms / 1000 + offset;
    const auto day = std::chrono::floor<std::chrono::days>(std::chrono::sys_seconds{std::chrono::seconds{local}});
    const std::chrono::year_month_day ymd{day};
    const std::int64_t secs = local - day.time_since_epoch().count() * 86400;
    const int off = offset < 0 ? -offset : offset;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                  offset < 0 ? '-' : '+', off / 3600, off / 60 % 60);
    return {ms, buf};
}

HubTime hubNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return hubTimeAt(now.toMSecsSinceEpoch(), now.offsetFromUtc());
}

Hub::Hub(HubOptions options, Journal journal, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_journal(std::move(journal)),
      m_table(m_options.maxSites, m_journal) {
    m_tick.setInterval(kTick);
    connect(&m_tick, &QTimer::timeout, this, &Hub::tick);
}

Hub::~Hub() = default;

Result<> Hub::start() {
    if (!m_options.db.empty()) {
        m_history = std::make_unique<History>(m_journal);
        if (Result<> r = m_history->open(m_options.db); !r.ok) return r;
        m_journal("history in " + m_options.db + ", kept " + std::to_string(m_options.keepDays) +
               " days");
        tick();  // the first prune now, then daily
    }
    mqtt::LinkSettings s;
    s.broker = {m_options.mqttHost, m_options.mqttPort};
    // A persistent session under a stable name: what booths publish with QoS 1
    // while the hub is away waits for it at the broker.
    s.clientId = !m_options.clientId.empty()
                     ? m_options.clientId
                     : "linewarden-hub-" + QHostInfo::localHostName().left(40).toStdString();
    s.cleanSession = false;
    s.cafile = m_options.mqttCafile;
    if (!m_options.mqttCredentials.empty()) {
        auto c = mqtt::readCredentials(m_options.mqttCredentials);
        if (!c.ok) return Result<>::failure(c.error);
        s.credentials = c.value;
    }
    const std::string where = mqtt::where(s.broker);
    mqtt::LinkEvents e;
    e.connected = [this, where] { m_journal("subscribed at " + where + " to " + m_options.mqttPrefix + "/+/..."); };
    e.lost = [this](const std::string& why) { m_journal("broker connection lost: " + why); };
    e.unreachable = [this](const std::string& why) { m_journal("broker unreachable: " + why); };
    e.message = [this](const std::string& topic, const std::string& payload) { take(topic, payload); };
    e.closed = [this] { Q_EMIT stopped(); };
    auto link = mqtt::Link::create(std::move(s), std::move(e));
    if (!link.ok) return Result<>::failure(link.error);
    m_link = std::move(link.value);
    const std::string& p = m_options.mqttPrefix;
    for (const char* level : {"/+/online", "/+/unit/+", "/+/bus", "/+/event", "/+/record"})
        m_link->subscribe(p + level, 1);
    m_link->open();
    m_tick.start();
    return {};
}

void Hub::stop() {
    m_tick.stop();
    if (m_link) {
        m_link->close();
    } else {
        Q_EMIT stopped();
    }
}

bool Hub::brokerConnected() const { return m_link && m_link->isConnected(); }

void Hub::take(const std::string& topic, const std::string& payload) {
    const HubTime now = hubNow();
    const SiteTable::Taken t = m_table.take(m_options.mqttPrefix, topic, payload, now);
    if (!t.accepted) {
        // The journal hears of the first few only; the page counts them all.
        if (m_toldInvalid < 10 && !t.refused) {
            ++m_toldInvalid;
            m_journal("dropped a message on " + topic.substr(0, 200) + ": " + t.why +
                   (m_toldInvalid == 10 ? " (no more of these are told)" : ""));
        }
        if (t.site) Q_EMIT siteChanged(t.site->name);
        return;
    }
    const std::string& site = t.site->name;
    if (m_history) {
        std::visit(
            [&](const auto& d) {
                using D = std::decay_t<decltype(d)>;
                if constexpr (std::is_same_v<D, UnitDoc>) {
                    // A retained unit sent again on reconnecting is no change.
                    if (t.news) m_history->unitChanged(site, d, payload, now.ms);
                }
                else if constexpr (std::is_same_v<D, EventDoc>) m_history->event(site, d, payload, now.ms);
                else if constexpr (std::is_same_v<D, RecordDoc>) m_history->record(site, d.text, now.ms);
                else if constexpr (std::is_same_v<D, OnlineDoc>) m_history->online(site, d.online, now.ms);
            },
            *t.payload);
    }
    if (const auto* r = std::get_if<RecordDoc>(&*t.payload)) Q_EMIT recordTaken(site, r->text);
    if (std::holds_alternative<EventDoc>(*t.payload)) Q_EMIT eventTaken(site, payload);
    Q_EMIT siteChanged(site);
}

void Hub::tick() {
    const HubTime now = hubNow();
    if (m_table.tick(now) > 0) {
        for (const auto& [name, s] : m_table.sites()) {
            if (s.live == Site::Live::Offline && s.liveSince.ms == s.firstHeard.ms) Q_EMIT siteChanged(name);
        }
    }
    if (m_history && now.ms - m_lastPrune >= std::chrono::milliseconds(kPruneEvery).count()) {
        m_lastPrune = now.ms;
        const std::int64_t n = m_history->prune(m_options.keepDays, now.ms);
        if (n > 0) m_journal("history: " + std::to_string(n) + " rows older than " +
                          std::to_string(m_options.keepDays) + " days dropped");
    }
}

}  // namespace lw::hub
