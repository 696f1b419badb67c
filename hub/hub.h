#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/activitylog.h"
#include "core/journal.h"
#include "core/nightreport.h"
#include "core/result.h"
#include "hub/alarms.h"
#include "hub/history.h"
#include "hub/huboptions.h"
#include "hub/notices.h"
#include "hub/sitetable.h"

namespace lw::mqtt {
class Link;
}

namespace lw::hub {

// Now, in milliseconds since the epoch and as contract text with the local offset.
HubTime hubNow();

// The facts of one night (noon DATE to noon the next day) of a site's stored records.
NightFacts nightFacts(History& history, const std::string& site, const std::string& night,
                      LogReadStats* stats = nullptr);

// The gatherer: subscribes to every site under the prefix on a persistent
// QoS 1 session, checks each message into the site table and the history,
// and says which sites changed. The page and the API read it.
class Hub final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kTick{1};
    static constexpr std::chrono::hours kPruneEvery{24};
    static constexpr std::chrono::milliseconds kTellEvery{250};
    static constexpr std::chrono::seconds kSettle{2};
    static constexpr std::size_t kQuietNamed = 20;  // all-clear sites named in a summary

    Hub(HubOptions options, Journal journal, QObject* parent = nullptr);
    ~Hub() override;

    // Opens the history (if asked for) and starts the broker link.
    Result<> start();
    // Leaves the broker cleanly; stopped() follows.
    void stop();

    // One message as the broker handed it (the link calls it; so do tests).
    void take(const std::string& topic, const std::string& payload);

    const SiteTable& table() const { return m_table; }
    History* history() const { return m_history.get(); }
    bool brokerConnected() const;
    const HubOptions& options() const { return m_options; }
    const AlarmBook& alarms() const { return m_alarms; }

    // An operator's action, already let through the write path's gate by
    // `by`; recorded in the history. The answer's status and JSON body.
    std::pair<int, std::string> act(const AlarmAction& action, const std::string& by);
    // Links in messages lead here (the page's own address by default).
    void setPageUrl(const std::string& url);

Q_SIGNALS:
    void siteChanged(const std::string& site);
    // A site's record (its text as logged) or event (its checked document),
    // for the booth's board on the page.
    void recordTaken(const std::string& site, const std::string& text);
    void eventTaken(const std::string& site, const std::string& document);
    void stopped();
    // Something to tell people; the notifier delivers it.
    void notice(const lw::notify::Message& message);
    void alarmsChanged();
    void siteForgotten(const std::string& site);

private:
    void tick();
    void evaluate(const Site& site, const HubTime& now);
    void changed(const std::vector<AlarmChange>& changes, const HubTime& now);
    void publishAlarms();
    void tellDue();
    void summary(const HubTime& now);
    // What the night of a site held worth saying; empty when all clear.
    std::string nightLine(const Site& site, const std::string& night, const HubTime& now) const;
    void takeAlarm(const SiteTopic& t, const std::string& topic, const std::string& payload);

    HubOptions m_options;
    Journal m_journal;
    SiteTable m_table;
    std::unique_ptr<History> m_history;
    std::unique_ptr<mqtt::Link> m_link;
    QTimer m_tick;
    std::int64_t m_lastPrune = 0;
    std::uint64_t m_toldInvalid = 0;
    AlarmBook m_alarms;
    NoticePolicy m_notices;
    QTimer m_tell;
    // Alarms wait for the broker's retained ones first, so a restarted hub
    // takes back what it had told instead of telling it again.
    std::int64_t m_settledAt = 0;
    std::int64_t m_lastSummaryDay = -1;
    const bool m_tells = !m_options.notifyWebhook.empty() || !m_options.notifyNtfy.empty() ||
                         !m_options.notifyMail.empty();
};

}  // namespace lw::hub
