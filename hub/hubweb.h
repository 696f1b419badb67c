#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/result.h"
#include "hub/hub.h"

class QTcpSocket;

namespace lw::web {
class AccessRule;
class ActionLimiter;
class LiveBoards;
class OperatorTokens;
class Server;
struct Answer;
struct Request;
}  // namespace lw::web

namespace lw::hub {

// The hub's page and API on the shared web edge (net/web): GET / (the
// chain's page), /api/sites, /api/site/SITE, /api/events?site=&after=,
// /api/history?site=&from=&to=, /site/SITE/report?night=DATE (the night
// report from the stored records) and the WebSocket /ws, which gets every site
// once and then only the sites that changed (with the counts every second,
// so a page knows it is live). /site/SITE is the booth's own board page,
// fed by /site/SITE/ws with the booth's messages made from the table.
class HubWeb final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPushEvery{250};
    static constexpr std::chrono::milliseconds kHeartbeat{1000};
    static constexpr int kMaxRowsAnswered = 1000;
    static constexpr qint64 kMaxBacklog = 8 * 1024 * 1024;

    HubWeb(Hub& hub, Journal journal, QObject* parent = nullptr);
    ~HubWeb() override;

    Result<> listen();
    quint16 port() const;
    // The page's own address, for links in messages.
    const std::string& url() const { return m_url; }
    // What /api/notifications and the page's header say of deliveries.
    void setNotifications(std::function<std::string()> list, std::function<std::string()> status);

    // The answer to one request; public so the rules are tested without a socket.
    web::Answer answer(const web::Request& request) const;
    // An operator's POST to /api/action.
    web::Answer action(const web::Request& request);

    // SITE of /site/SITE followed by `tail`, when SITE is a site the table
    // holds (percent-decoded, one path segment); nullopt otherwise.
    std::optional<std::string> boardSite(std::string_view path, std::string_view tail) const;

private:
    struct SiteBoard;
    SiteBoard& board(const std::string& site);
    std::string boardMessage(const std::string& site, SiteBoard& b, bool first);
    void upgrade(QTcpSocket* socket);
    web::Answer nightReport(const std::string& site, const std::string& night) const;
    std::string message(bool first);
    std::string header() const;
    void pushTick();

    Hub& m_hub;
    Journal m_journal;
    std::string m_page;
    std::unique_ptr<web::AccessRule> m_rule;
    std::unique_ptr<web::OperatorTokens> m_operators;
    std::unique_ptr<web::ActionLimiter> m_limiter;
    std::function<std::string()> m_notificationList;
    std::function<std::string()> m_notificationStatus;
    bool m_alarmsDirty = true;
    std::vector<std::string> m_forgotten;  // sites the page must drop
    std::string m_url;  // scheme://host:port, once listening
    // The server owns the sockets, the live boards the WebSockets on some of
    // them: the WebSockets go first.
    std::unique_ptr<web::Server> m_server;
    std::unique_ptr<web::LiveBoards> m_live;
    std::set<std::string> m_dirty;  // sites changed since the last push
    // Only the booths someone watches: gone again once nobody does.
    std::map<std::string, std::unique_ptr<SiteBoard>, std::less<>> m_boards;
    std::string m_boardPage;
    QTimer m_push;
    qint64 m_lastPush = 0;
};

// %XX decoded; nullopt when malformed.
std::optional<std::string> percentDecoded(std::string_view s);

}  // namespace lw::hub
