#include "hub/hub.h"

#include <QDateTime>
#include <QDate>
#include <QHostInfo>
#include <QTime>
#include <chrono>
#include <cstdio>
#include <variant>

#include "core/activitylog.h"
#include "core/boardjson.h"
#include "core/jsonreader.h"
#include "core/nightreport.h"
#include "net/mqtt/credentials.h"
#include "net/mqtt/link.h"

namespace lw::hub {

HubTime hubNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return hubTimeAt(now.toMSecsSinceEpoch(), now.offsetFromUtc());
}

Hub::Hub(HubOptions options, Journal journal, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_journal(std::move(journal)),
      m_table(m_options.maxSites, m_journal),
      m_alarms(AlarmSettings{m_options.busLostAfterMs, m_options.offlineAfterMs}),
      m_notices(NoticeSettings{1000, m_options.groupMs, m_options.remindMs, m_options.pageUrl}) {
    m_tick.setInterval(kTick);
    connect(&m_tick, &QTimer::timeout, this, &Hub::tick);
    m_tell.setInterval(kTellEvery);
    connect(&m_tell, &QTimer::timeout, this, &Hub::tellDue);
}

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

// When the night of DATE (YYYY-MM-DD) begins, in the hub's time.
QDateTime noonOf(const std::string& night) {
    return QDateTime(QDate::fromString(QString::fromStdString(night), Qt::ISODate), QTime(12, 0));
}

}  // namespace

NightFacts nightFacts(History& history, const std::string& site, const std::string& night,
                      LogReadStats* stats) {
    // The night of DATE runs from its noon to the next noon, in the booth's
    // own record times; the hub's receipt times only narrow the search.
    const auto day = parseReportTime(night);
    const qint64 noon = noonOf(night).toMSecsSinceEpoch();
    const std::string records = history.recordsText(site, noon - kDayMs, noon + 2 * kDayMs);
    NightModel model(NightWindow{*day + kNoon, *day + kNoon + kDay});
    ActivityLogReader reader([&](const LogRecord& r) { model.add(r); });
    reader.begin("history of " + site);
    reader.feed(records);
    reader.end();
    if (stats) *stats = reader.stats();
    return model.finish();
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
    e.connected = [this, where] {
        m_journal("subscribed at " + where + " to " + m_options.mqttPrefix + "/+/...");
        if (m_settledAt == 0) m_settledAt = hubNow().ms + std::chrono::milliseconds(kSettle).count();
    };
    e.lost = [this](const std::string& why) { m_journal("broker connection lost: " + why); };
    e.unreachable = [this](const std::string& why) { m_journal("broker unreachable: " + why); };
    e.message = [this](const std::string& topic, const std::string& payload) { take(topic, payload); };
    e.closed = [this] { Q_EMIT stopped(); };
    auto link = mqtt::Link::create(std::move(s), std::move(e));
    if (!link.ok) return Result<>::failure(link.error);
    m_link = std::move(link.value);
    const std::string& p = m_options.mqttPrefix;
    for (const char* level : {"/+/alarm/+", "/+/online", "/+/unit/+", "/+/bus", "/+/event", "/+/record"})
        m_link->subscribe(p + level, 1);
    m_link->open();
    m_tick.start();
    m_tell.start();
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
    // An empty retained message only clears a topic (a forgotten site's).
    if (payload.empty()) return;
    const HubTime now = hubNow();
    const SiteTable::Taken t = m_table.take(m_options.mqttPrefix, topic, payload, now);
    if (t.alarm) {
        takeAlarm(*t.alarm, topic, payload);
        return;
    }
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
    if (const auto* u = std::get_if<UnitDoc>(&*t.payload)) m_alarms.unitSeen(site, *u);
    evaluate(*t.site, now);
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
    for (const auto& [name, s] : m_table.sites()) evaluate(s, now);
    summary(now);
    if (m_history && now.ms - m_lastPrune >= std::chrono::milliseconds(kPruneEvery).count()) {
        m_lastPrune = now.ms;
        const std::int64_t n = m_history->prune(m_options.keepDays, now.ms);
        if (n > 0) m_journal("history: " + std::to_string(n) + " rows older than " +
                          std::to_string(m_options.keepDays) + " days dropped");
    }
}

void Hub::takeAlarm(const SiteTopic& t, const std::string& topic, const std::string& payload) {
    // Alarms of sites never heard are bounded as the table is: junk on the
    // broker cannot grow the book without end.
    if (!m_alarms.sites().count(t.site) && m_alarms.sites().size() >= m_table.maxSites()) return;
    std::string why;
    if (!m_alarms.takeRetained(t.site, t.alarm, payload, &why)) {
        if (m_toldInvalid < 10) {
            ++m_toldInvalid;
            m_journal("dropped a message on " + topic.substr(0, 200) + ": " + why);
        }
        return;
    }
    Q_EMIT alarmsChanged();
    Q_EMIT siteChanged(t.site);
}

void Hub::evaluate(const Site& site, const HubTime& now) {
    if (m_settledAt == 0 || now.ms < m_settledAt) return;
    changed(m_alarms.evaluate(site, now), now);
}

void Hub::changed(const std::vector<AlarmChange>& changes, const HubTime& now) {
    for (const AlarmChange& c : changes) {
        if (m_tells) m_notices.changed(c, now);
        using W = AlarmChange::What;
        if (m_history && (c.what == W::Opened || c.what == W::Flapping || c.what == W::Cleared)) {
            // A flapping alarm opened as well.
            m_history->alarm(c.site, c.which, c.what == W::Cleared ? "cleared" : "opened", now.ms);
        }
        if (c.which.empty() || c.what == W::Flapping || c.what == W::Opened)
            m_journal("alarm " + c.site + (c.which.empty() ? "" : "/" + c.which) + ": " +
                      std::string(changeName(c.what)));
        Q_EMIT siteChanged(c.site);
    }
    publishAlarms();
    if (!changes.empty()) Q_EMIT alarmsChanged();
}

void Hub::publishAlarms() {
    for (const auto& [site, which] : m_alarms.takeDirty()) {
        if (m_link) {
            m_link->publish(m_options.mqttPrefix + "/" + site + "/alarm/" + which,
                            m_alarms.documentJson(site, which), true, 1);
        }
    }
}

void Hub::tellDue() {
    // A hub with nobody to tell marks nothing told: another hub may tell it.
    if (!m_tells) return;
    const HubTime now = hubNow();
    for (const notify::Message& m : m_notices.due(m_alarms, now)) {
        m_journal("notice " + m.kind + ": " + m.title);
        Q_EMIT notice(m);
    }
    publishAlarms();
}

void Hub::setPageUrl(const std::string& url) { m_notices.setPageUrl(url); }

std::pair<int, std::string> Hub::act(const AlarmAction& action, const std::string& by) {
    const HubTime now = hubNow();
    if (!m_table.find(action.site) && action.kind != AlarmAction::Kind::ForgetSite)
        return {404, "{\"error\":\"no such site\"}"};
    AlarmBook::Outcome o = m_alarms.act(action, by, now);
    if (o.status != 200) return {o.status, "{\"error\":" + jsonQuote(o.why) + "}"};
    std::string until;
    if (action.minutes > 0) until = hubTimeAfter(now, action.minutes * 60'000).text;
    if (m_history) m_history->action(action.site, action.which, std::string(actionName(action.kind)), by,
                                     action.reason, until, now.ms);
    m_journal("action " + std::string(actionName(action.kind)) + " on " + action.site +
              (action.which.empty() ? "" : "/" + action.which) + " by " + by);
    if (action.kind == AlarmAction::Kind::ForgetSite) {
        // The booth's retained topics go too, or the next start would bring it back.
        if (m_link) {
            const std::string base = m_options.mqttPrefix + "/" + action.site + "/";
            for (const std::string& level : {std::string("online"), std::string("bus"), std::string("alarm/bus"),
                                             std::string("alarm/site")})
                m_link->publish(base + level, "", true, 1);
            for (int u = 1; u <= 16; ++u) {
                m_link->publish(base + "unit/" + std::to_string(u), "", true, 1);
                m_link->publish(base + "alarm/" + std::to_string(u), "", true, 1);
            }
        }
        m_table.forget(action.site);
        Q_EMIT siteForgotten(action.site);
    }
    changed(o.changes, now);  // an action that succeeds always changes something
    return {200, m_alarms.listJson()};
}

std::string Hub::nightLine(const Site& site, const std::string& night, const HubTime& now) const {
    if (!m_history) {
        // Without history only the alarms tell of the night.
        std::size_t alarms = 0;
        if (const auto it = m_alarms.sites().find(site.name); it != m_alarms.sites().end()) {
            for (const auto& [which, a] : it->second.alarms) alarms += a.opened.ms >= now.ms - kDayMs;
        }
        return alarms == 0 ? "" : std::to_string(alarms) + " alarms in the last 24 hours";
    }
    const NightFacts f = nightFacts(*m_history, site.name, night);
    const QDateTime noon = noonOf(night);
    const std::int64_t alarms =
        m_history->alarmsOpened(site.name, noon.toMSecsSinceEpoch(), noon.addDays(1).toMSecsSinceEpoch());
    if (f.allClear() && alarms == 0) return "";
    std::string line = std::to_string(f.failureCount) + " failures, " + std::to_string(f.panicBursts) +
                       " panic stops, " + std::to_string(alarms) + " alarms";
    for (const FailureMark& fm : f.failures) line += "\n  unit " + fm.unit + " failed (" + fm.cause + ") at " + fm.clock;
    return line;
}

void Hub::summary(const HubTime& now) {
    // Not before the broker has told what each site holds.
    if (m_options.summaryAt < 0 || !m_tells || m_settledAt == 0 || now.ms < m_settledAt) return;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(now.ms);
    const std::int64_t day = local.date().toJulianDay();
    const int minute = local.time().hour() * 60 + local.time().minute();
    // A hub started within the summary's minute still sends it.
    if (m_lastSummaryDay < 0) m_lastSummaryDay = minute > m_options.summaryAt ? day : day - 1;
    if (day == m_lastSummaryDay || minute < m_options.summaryAt) return;
    m_lastSummaryDay = day;
    const std::string night = local.date().addDays(-1).toString(Qt::ISODate).toStdString();
    notify::Message m;
    m.kind = "summary";
    std::vector<std::string_view> sites;
    std::vector<std::string> items;
    std::string clear;  // a chain's quiet sites take one line, not one each
    std::size_t troubled = 0, quiet = 0;
    for (const Site* s : m_table.ordered()) {
        const std::string trouble = nightLine(*s, night, now);
        std::string line = s->name + ": " + (trouble.empty() ? "all clear" : trouble);
        if (const std::string link = m_notices.siteLink(s->name, "/report?night=" + night); !link.empty())
            line += "\n  " + link;
        items.push_back("{\"site\":" + jsonQuote(s->name) + ",\"text\":" + jsonQuote(line) + "}");
        if (!trouble.empty()) {
            ++troubled;
            m.text += line + "\n";
        } else if (++quiet <= kQuietNamed) {
            clear += (clear.empty() ? "" : ", ") + s->name;
        }
    }
    if (quiet > 0) {
        m.text += "all clear: " + std::to_string(quiet) + " sites (" + clear + (quiet > kQuietNamed ? ", …" : "") + ")\n";
    }
    for (const std::string& i : items) sites.push_back(i);
    m.title = "Night of " + night + ": " +
              (troubled == 0 ? std::string("all clear") : std::to_string(troubled) + " of " +
                                                            std::to_string(m_table.sites().size()) + " sites had trouble");
    m.tags.push_back(troubled == 0 ? "white_check_mark" : "warning");
    const std::string& page = m_notices.settings().pageUrl;
    m.json = "{\"kind\":\"summary\",\"site\":null,\"urgent\":false,\"title\":" + jsonQuote(m.title) +
             ",\"text\":" + jsonQuote(m.text) + ",\"at\":" + jsonQuote(now.text) +
             ",\"link\":" + (page.empty() ? std::string("null") : jsonQuote(page + "/")) +
             ",\"night\":" + jsonQuote(night) + ",\"sites\":" + jsonArray(sites) + "}";
    m_journal("notice summary: " + m.title);
    Q_EMIT notice(m);
}

}  // namespace lw::hub
