#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/journal.h"
#include "core/result.h"
#include "hub/history.h"
#include "hub/huboptions.h"
#include "hub/sitetable.h"

namespace lw::mqtt {
class Link;
}

namespace lw::hub {

// Now, in milliseconds since the epoch and as contract text with the local offset.
HubTime hubNow();
HubTime hubTimeAt(std::int64_t msSinceEpoch, int offsetSeconds);

// The gatherer: subscribes to every site under the prefix on a persistent
// QoS 1 session, checks each message into the site table and the history,
// and says which sites changed. The page and the API read it.
class Hub final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kTick{1};
    static constexpr std::chrono::hours kPruneEvery{24};

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

Q_SIGNALS:
    void siteChanged(const std::string& site);
    // A site's record (its text as logged) or event (its checked document),
    // for the booth's board on the page.
    void recordTaken(const std::string& site, const std::string& text);
    void eventTaken(const std::string& site, const std::string& document);
    void stopped();

private:
    void tick();

    HubOptions m_options;
    Journal m_journal;
    SiteTable m_table;
    std::unique_ptr<History> m_history;
    std::unique_ptr<mqtt::Link> m_link;
    QTimer m_tick;
    std::int64_t m_lastPrune = 0;
    std::uint64_t m_toldInvalid = 0;
};

}  // namespace lw::hub
