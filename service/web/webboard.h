#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/result.h"
#include "service/monitorservice.h"
#include "service/serviceoptions.h"

namespace lw::web {
class AccessRule;
class LiveBoards;
class Server;
}  // namespace lw::web

namespace lw::service {

// The live board for web browsers: the listener and its budgets, the one
// access rule, the handlers and the live WebSockets, fed by the service.
// Listen-only: whatever a client does the monitor goes on.
class WebBoard final : public QObject {
    Q_OBJECT
public:
    WebBoard(MonitorService& service, const ServiceOptions& options, Journal journal,
             QObject* parent = nullptr);
    ~WebBoard() override;

    // Reads the token file, if any, and starts listening; tells where.
    Result<> listen();
    quint16 port() const;
    // Connections open now, plain and WebSocket.
    std::size_t clients() const;
    // GET /metrics answers with this; unset, it is not served.
    void setMetrics(std::function<std::string()> metrics);

private:
    class Source;

    MonitorService& m_service;
    ServiceOptions m_options;
    Journal m_journal;
    std::unique_ptr<Source> m_source;
    std::unique_ptr<lw::web::AccessRule> m_rule;
    // The server owns the sockets, the live boards the WebSockets on some of
    // them: the WebSockets go first.
    std::unique_ptr<lw::web::Server> m_server;
    std::unique_ptr<lw::web::LiveBoards> m_live;
    std::uint64_t m_pushedSeq = 0;
    std::uint64_t m_pushedEventSeq = 0;
};

}  // namespace lw::service
