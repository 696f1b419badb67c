#include "service/web/webboard.h"

#include <QFile>
#include <QSslConfiguration>

#include "core/boardjson.h"
#include "service/filechecks.h"
#include "net/web/liveboards.h"
#include "service/web/router.h"
#include "net/web/server.h"
#include "net/web/tls.h"

namespace lw::service {

namespace {

std::string trimmed(std::string s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    return s.substr(i);
}

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
    explicit Source(const MonitorService& service) : m_service(service) {
        QFile page(QStringLiteral(":/linewarden/board.html"));
        if (page.open(QIODevice::ReadOnly)) m_page = page.readAll().toStdString();
    }
    std::string boardJson() const override { return m_service.boardJson(); }
    std::string recordsJson(std::uint64_t seq, std::size_t max) const override {
        return m_service.records().jsonAfter(seq, max);
    }
    const std::string& page() const override { return m_page; }

private:
    const MonitorService& m_service;
    std::string m_page;
};

WebBoard::WebBoard(MonitorService& service, const ServiceOptions& options, Tell tell,
                   QObject* parent)
    : QObject(parent),
      m_service(service),
      m_options(options),
      m_tell(std::move(tell)),
      m_source(std::make_unique<Source>(service)) {
    m_pushedSeq = m_service.records().lastSeq();
    m_pushedEventSeq = m_service.events().lastSeq();
    m_siteJson = '"' + jsonEscape(m_options.site) + '"';
    m_live = std::make_unique<web::LiveBoards>([this](bool first) {
        const RecordRing& records = m_service.records();
        const std::size_t n = web::LiveBoards::kRecordsOnPage;
        if (first) {
            const std::uint64_t last = records.lastSeq();
            return liveBoardJson(m_service.boardJson(),
                                 records.jsonAfter(last > n ? last - n : 0, n),
                                 m_service.events().jsonAfter(0, n), m_siteJson, true);
        }
        // The page shows only the latest few; a noise flood must not make every push huge.
        std::string message = liveBoardJson(
            m_service.boardJson(), records.jsonAfter(m_pushedSeq, n),
            m_service.events().jsonAfter(m_pushedEventSeq, n), m_siteJson, false);
        m_pushedSeq = records.lastSeq();
        m_pushedEventSeq = m_service.events().lastSeq();
        return message;
    });
    connect(&m_service, &MonitorService::ticked, m_live.get(), &web::LiveBoards::push);
    // A lost or returning port is news at once, not at the next tick.
    connect(&m_service, &MonitorService::portStateChanged, m_live.get(),
            [this] { m_live->push(); });
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
    m_tell(std::string("web board on ") + (secure ? "https://" : "http://") + host.toStdString() + ":" + std::to_string(port()) + "/" +
           (token.empty() ? "" : " (token required)"));
    return {};
}

quint16 WebBoard::port() const { return m_server ? m_server->serverPort() : 0; }

}  // namespace lw::service
