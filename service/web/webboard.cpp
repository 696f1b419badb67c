#include "service/web/webboard.h"

#include <QFile>
#include <QSslConfiguration>

#include "core/boardjson.h"
#include "core/textutil.h"
#include "net/web/liveboards.h"
#include "net/web/server.h"
#include "net/web/tls.h"
#include "service/filechecks.h"
#include "service/web/router.h"

namespace lw::service {

namespace {

// The certificate chain and key for HTTPS, from PEM files.
Result<QSslConfiguration> tlsFrom(const ServiceOptions& o) {
    using R = Result<QSslConfiguration>;
    const auto cert = readSmallFile(o.httpsCert, "the certificate file", kMaxCaFile);
    if (!cert.ok) return R::failure(cert.error);
    const auto key = readSmallFile(o.httpsKey, "the key file", kMaxSecretFile * 4);
    if (!key.ok) return R::failure(key.error);
    return web::serverTls(cert.value, key.value, o.httpsCert, o.httpsKey);
}

}  // namespace

class WebBoard::Source final : public web::BoardSource {
public:
    Source(const MonitorService& service, bool board) : m_service(service), m_board(board) {
        QFile page(QStringLiteral(":/linewarden/board.html"));
        if (page.open(QIODevice::ReadOnly)) m_page = page.readAll().toStdString();
    }
    std::string boardJson() const override { return m_service.boardJson(); }
    std::string recordsJson(std::uint64_t seq, std::size_t max) const override {
        return m_service.records().jsonAfter(seq, max);
    }
    const std::string& page() const override { return m_page; }
    bool boardServed() const override { return m_board; }
    std::optional<std::string> metrics() const override {
        if (!m_metrics) return std::nullopt;
        return m_metrics();
    }

    std::function<std::string()> m_metrics;

private:
    const MonitorService& m_service;
    bool m_board;
    std::string m_page;
};

WebBoard::WebBoard(MonitorService& service, const ServiceOptions& options, Journal journal,
                   QObject* parent)
    : QObject(parent),
      m_service(service),
      m_options(options),
      m_journal(std::move(journal)),
      m_source(std::make_unique<Source>(service, !options.noBoard)) {
    m_pushedSeq = m_service.records().lastSeq();
    m_pushedEventSeq = m_service.events().lastSeq();
    m_live = std::make_unique<lw::web::LiveBoards>([this](bool first) {
        const RecordRing& records = m_service.records();
        const EventRing& events = m_service.events();
        const std::size_t n = lw::web::LiveBoards::kRecordsOnPage;
        if (first) {
            const std::uint64_t last = records.lastSeq();
            return firstLiveBoardJson(m_service.boardJson(),
                                      records.jsonAfter(last > n ? last - n : 0, n),
                                      events.jsonAfter(0, n), m_options.site);
        }
        // The page shows only the latest few; a noise flood must not make every push huge.
        std::string message =
            liveBoardJson(m_service.boardJson(), records.jsonAfter(m_pushedSeq, n),
                          events.jsonAfter(m_pushedEventSeq, n));
        m_pushedSeq = records.lastSeq();
        m_pushedEventSeq = events.lastSeq();
        return message;
    });
    connect(&m_service, &MonitorService::ticked, m_live.get(), &web::LiveBoards::push);
    // A lost or returning port is news at once, not at the next tick.
    connect(&m_service, &MonitorService::portStateChanged, m_live.get(), &lw::web::LiveBoards::push);
}

WebBoard::~WebBoard() = default;

Result<> WebBoard::listen() {
    std::string token;
    if (!m_options.httpTokenFile.empty()) {
        auto read = readSmallFile(m_options.httpTokenFile, "the token file", kMaxSecretFile);
        if (!read.ok) return Result<>::failure(read.error);
        token = trimmed(std::move(read.value));
        if (token.empty()) {
            return Result<>::failure("the token file " + m_options.httpTokenFile +
                                     " holds no usable token");
        }
    }
    if (m_source->page().empty()) return Result<>::failure("the web page is missing from the program");
    const HttpEndpoint& at = *m_options.http;
    QString host = at.address.toString();
    if (at.address.protocol() == QAbstractSocket::IPv6Protocol) host = '[' + host + ']';
    const bool secure = !m_options.httpsCert.empty();
    m_rule = std::make_unique<web::AccessRule>(token, host.toStdString(), secure);
    m_server = std::make_unique<web::Server>(
        [this](const web::Request& r) { return web::route(r, *m_rule, *m_source); });
    if (secure) {
        const auto tls = tlsFrom(m_options);
        if (!tls.ok) return Result<>::failure(tls.error);
        m_server->useTls(tls.value);
    }
    connect(m_server.get(), &web::Server::webSocketRequested, m_live.get(), &web::LiveBoards::take);
    if (!m_server->listen(at.address, at.port)) {
        return Result<>::failure("cannot listen on " + at.address.toString().toStdString() + ":" +
                                 std::to_string(at.port) + ": " +
                                 m_server->errorString().toStdString());
    }
    m_journal(std::string("web board on ") + (secure ? "https://" : "http://") + host.toStdString() + ":" + std::to_string(port()) + "/" +
           (m_options.noBoard ? " (metrics only)" : "") +
           (token.empty() ? "" : " (token required)"));
    return {};
}

quint16 WebBoard::port() const { return m_server ? m_server->serverPort() : 0; }

std::size_t WebBoard::clients() const { return m_server ? m_server->clients() : 0; }

void WebBoard::setMetrics(std::function<std::string()> metrics) {
    m_source->m_metrics = std::move(metrics);
}

}  // namespace lw::service
