#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "service/monitorservice.h"
#include "service/serviceoptions.h"

class QWebSocket;

namespace lw::service {

class HttpGuard;

// The live board for web browsers, on Qt's HTTP server and WebSockets:
// GET / (the page), /api/board, /api/records?after=SEQ and the WebSocket
// /ws that pushes the board and new records after every decoder tick.
// Listen-only: nothing but GET, nothing from the file system, every client
// bounded, and whatever a client does the monitor goes on.
class WebBoard final : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxRecordsAnswered = 500;
    static constexpr std::size_t kRecordsOnPage = 50;
    static constexpr qint64 kMaxWebSocketBacklog = 64 * 1024;

    WebBoard(MonitorService& service, const ServiceOptions& options, Tell tell,
             QObject* parent = nullptr);
    ~WebBoard() override;

    // Reads the token file, if any, and starts listening; tells where.
    Result<> listen();
    quint16 port() const;
    std::size_t webSocketClients() const { return m_clients.size(); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Client;

    bool authorised(const QByteArray& authorization, const QString& queryToken) const;
    bool hostAllowed(const QByteArray& host) const;
    void takeWebSockets();
    void push();
    void drop(QWebSocket* socket);

    MonitorService& m_service;
    ServiceOptions m_options;
    Tell m_tell;
    QByteArray m_token;  // empty: none asked for
    QByteArray m_page;
    HttpGuard* m_guard = nullptr;  // owned by the HTTP server once bound
    std::vector<std::unique_ptr<QWebSocket>> m_clients;
    std::uint64_t m_pushedSeq = 0;
    std::uint64_t m_pushedEventSeq = 0;
    std::string m_siteJson;  // the booth's name as a JSON string
};

}  // namespace lw::service
