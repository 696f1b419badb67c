#include "hub/hubweb.h"

#include <QDateTime>
#include <QDate>
#include <QFile>
#include <QTcpSocket>
#include <QTime>
#include <deque>

#include "core/activitylog.h"
#include "core/boardjson.h"
#include "core/jsonreader.h"
#include "core/nightreport.h"
#include "core/textutil.h"
#include "net/web/accessrule.h"
#include "net/web/actiongate.h"
#include "net/web/operatorfile.h"
#include "net/web/answer.h"
#include "net/web/liveboards.h"
#include "net/web/server.h"
#include "net/web/tls.h"
#include "platform/smallfile.h"

namespace lw::hub {

namespace {

// Milliseconds since the epoch, or an ISO 8601 time; nullopt when neither.
std::optional<std::int64_t> timeParameter(const std::string& v, std::int64_t fallback) {
    if (v.empty()) return fallback;
    std::int64_t ms = 0;
    if (v.size() <= 15 && parseDecimal(v, ms)) return ms;
    const QDateTime t = QDateTime::fromString(QString::fromStdString(v), Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t.toMSecsSinceEpoch();
}

constexpr qint64 kBoardLinger = 10'000;  // a board nobody opened in this long goes

}  // namespace

// One watched booth: its live boards and the latest records and events,
// newest last, the count of those not pushed yet at the end of each.
struct HubWeb::SiteBoard {
    std::unique_ptr<web::LiveBoards> live;
    std::deque<std::string> records;
    std::deque<std::string> events;
    std::size_t newRecords = 0;
    std::size_t newEvents = 0;
    std::uint64_t seq = 0;
    qint64 created = 0;

    static void add(std::deque<std::string>& list, std::size_t& fresh, std::string json) {
        list.push_back(std::move(json));
        if (list.size() > web::LiveBoards::kRecordsOnPage) list.pop_front();
        fresh = std::min(fresh + 1, list.size());
    }
    void record(std::string_view text) {
        add(records, newRecords, recordJson(++seq, "", "", text, ""));
    }
    static std::string last(const std::deque<std::string>& list, std::size_t n) {
        std::vector<std::string_view> items(list.end() - static_cast<std::ptrdiff_t>(n), list.end());
        return jsonArray(items);
    }
};

std::optional<std::string> percentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        int v = 0;
        for (int k = 1; k <= 2; ++k) {
            const char c = s[i + static_cast<std::size_t>(k)];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= c - '0';
            else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
            else return std::nullopt;
        }
        out += static_cast<char>(v);
        i += 2;
    }
    return out;
}

HubWeb::HubWeb(Hub& hub, Journal journal, QObject* parent)
    : QObject(parent), m_hub(hub), m_journal(std::move(journal)) {
    QFile page(QStringLiteral(":/linewarden/hub.html"));
    if (page.open(QIODevice::ReadOnly)) m_page = page.readAll().toStdString();
    QFile boardPage(QStringLiteral(":/linewarden/board.html"));
    if (boardPage.open(QIODevice::ReadOnly)) m_boardPage = boardPage.readAll().toStdString();
    m_live = std::make_unique<web::LiveBoards>([this](bool first) { return message(first); },
                                               nullptr, web::LiveBoards::Encoding::Utf8);
    m_live->setMaxBacklog(kMaxBacklog);
    connect(&m_hub, &Hub::siteChanged, this, [this](const std::string& site) {
        m_dirty.insert(site);
    });
    connect(&m_hub, &Hub::alarmsChanged, this, [this] { m_alarmsDirty = true; });
    connect(&m_hub, &Hub::siteForgotten, this, [this](const std::string& site) {
        m_dirty.erase(site);
        m_boards.erase(site);
        m_forgotten.push_back(site);
    });
    m_push.setInterval(kPushEvery);
    connect(&m_push, &QTimer::timeout, this, &HubWeb::pushTick);
    connect(&m_hub, &Hub::recordTaken, this, [this](const std::string& site, const std::string& text) {
        if (const auto it = m_boards.find(site); it != m_boards.end()) it->second->record(text);
    });
    connect(&m_hub, &Hub::eventTaken, this, [this](const std::string& site, const std::string& doc) {
        if (const auto it = m_boards.find(site); it != m_boards.end())
            SiteBoard::add(it->second->events, it->second->newEvents, doc);
    });
}

HubWeb::~HubWeb() = default;

Result<> HubWeb::listen() {
    const HubOptions& o = m_hub.options();
    std::string token;
    if (!o.httpToken.empty()) {
        auto read = readSmallFile(o.httpToken, "the token file", kMaxSecretFile);
        if (!read.ok) return Result<>::failure(read.error);
        token = trimmed(std::move(read.value));
        if (token.empty())
            return Result<>::failure("the token file " + o.httpToken + " holds no usable token");
    }
    if (m_page.empty() || m_boardPage.empty()) return Result<>::failure("the web page is missing from the program");
    const QHostAddress address(QString::fromStdString(o.httpAddress));
    if (address.isNull()) return Result<>::failure("--http needs an IP address: " + o.httpAddress);
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol) host = '[' + host + ']';
    const bool secure = !o.httpsCert.empty();
    m_rule = std::make_unique<web::AccessRule>(token, host.toStdString(), secure);
    if (!o.operatorTokens.empty()) {
        auto operators = web::readOperatorTokens(o.operatorTokens);
        if (!operators.ok) return Result<>::failure(operators.error);
        m_operators = std::make_unique<web::OperatorTokens>(std::move(operators.value));
        m_limiter = std::make_unique<web::ActionLimiter>();
    }
    m_server = std::make_unique<web::Server>([this](const web::Request& r) {
        return r.method == "POST" && r.path == "/api/action" ? action(r) : answer(r);
    });
    if (secure) {
        const auto cert = readSmallFile(o.httpsCert, "the certificate file", kMaxCaFile);
        if (!cert.ok) return Result<>::failure(cert.error);
        const auto key = readSmallFile(o.httpsKey, "the key file", kMaxSecretFile * 4);
        if (!key.ok) return Result<>::failure(key.error);
        const auto tls = web::serverTls(cert.value, key.value, o.httpsCert, o.httpsKey);
        if (!tls.ok) return Result<>::failure(tls.error);
        m_server->useTls(tls.value);
    }
    connect(m_server.get(), &web::Server::webSocketRequested, this, &HubWeb::upgrade);
    if (!m_server->listen(address, static_cast<quint16>(o.httpPort))) {
        return Result<>::failure("cannot listen on " + o.httpAddress + ":" +
                                 std::to_string(o.httpPort) + ": " +
                                 m_server->errorString().toStdString());
    }
    m_push.start();
    m_url = (secure ? "https://" : "http://") + host.toStdString() + ":" + std::to_string(port());
    m_journal("page on " + m_url + "/" + (token.empty() ? "" : " (token required)"));
    return {};
}

quint16 HubWeb::port() const { return m_server ? m_server->serverPort() : 0; }

void HubWeb::setNotifications(std::function<std::string()> list, std::function<std::string()> status) {
    m_notificationList = std::move(list);
    m_notificationStatus = std::move(status);
}

web::Answer HubWeb::action(const web::Request& request) {
    if (!m_operators) return web::textAnswer(403, "No operator actions here (--operator-tokens)");
    const web::ActionCheck check = web::checkAction(request, *m_rule, *m_operators, *m_limiter,
                                                    m_server->now());
    if (check.refused) return *check.refused;
    std::string why;
    const auto a = readAlarmAction(request.body, &why);
    if (!a) return web::textAnswer(400, why.c_str());
    auto [status, body] = m_hub.act(*a, check.label);
    web::Answer answer = web::jsonAnswer(std::move(body));
    answer.status = status;
    return answer;
}

std::string HubWeb::header() const {
    const SiteTable& t = m_hub.table();
    History* h = m_hub.history();
    std::string j = "\"at\":" + jsonQuote(hubNow().text) +
                    ",\"operators\":" + (m_operators ? "true" : "false") +
                    ",\"notifications\":" + (m_notificationStatus ? m_notificationStatus() : "null") +
                    ",\"broker\":" + (m_hub.brokerConnected() ? "true" : "false") +
                    ",\"counts\":" + countsJson(t.counts(), t.stats(), t.sites().size()) +
                    ",\"history\":";
    if (!h) {
        j += "null";
    } else {
        j += "{\"failed_writes\":" + std::to_string(h->failedWrites()) +
             ",\"problem\":" + (h->problem().empty() ? "null" : jsonQuote(h->problem())) + "}";
    }
    return j;
}

std::string HubWeb::message(bool first) {
    std::string j = "{" + header();
    if (first || m_alarmsDirty) j += ",\"alarms\":" + m_hub.alarms().listJson();
    if (!first && !m_forgotten.empty()) {
        std::vector<std::string> quoted;
        for (const std::string& f : m_forgotten) quoted.push_back(jsonQuote(f));
        j += ",\"forgotten\":" + jsonArray(std::vector<std::string_view>(quoted.begin(), quoted.end()));
    }
    j += first ? ",\"first\":true,\"sites\":[" : ",\"sites\":[";
    bool comma = false;
    if (first) {
        for (const Site* s : m_hub.table().ordered()) {
            if (comma) j += ',';
            comma = true;
            j += siteJson(*s, false);
        }
    } else {
        for (const std::string& name : m_dirty) {
            if (const Site* s = m_hub.table().find(name)) {
                if (comma) j += ',';
                comma = true;
                j += siteJson(*s, false);
            }
        }
    }
    return j + "]}";
}

HubWeb::SiteBoard& HubWeb::board(const std::string& site) {
    auto& b = m_boards[site];
    if (b) return *b;
    b = std::make_unique<SiteBoard>();
    b->created = QDateTime::currentMSecsSinceEpoch();
    SiteBoard* raw = b.get();
    b->live = std::make_unique<web::LiveBoards>(
        [this, site, raw](bool first) { return boardMessage(site, *raw, first); }, nullptr,
        web::LiveBoards::Encoding::Utf8);
    // The page opens with the booth's latest records: the stored ones, when kept.
    if (History* h = m_hub.history()) {
        const std::string text = h->recordsText(site, b->created - 24 * 3600 * 1000, b->created + 1);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            b->record(std::string_view(text).substr(start, end - start));
            start = end;
        }
    }
    b->newRecords = 0;
    return *b;
}

std::string HubWeb::boardMessage(const std::string& site, SiteBoard& b, bool first) {
    const Site* s = m_hub.table().find(site);
    if (!s) return "{}";
    // "live": what the booth said can be believed now; the page goes stale on false.
    const std::string live = s->online() && m_hub.brokerConnected() ? "true" : "false";
    const std::string board = siteBoardJson(*s, hubNow());
    std::string j;
    if (first) {
        j = firstLiveBoardJson(board, SiteBoard::last(b.records, b.records.size()),
                               SiteBoard::last(b.events, b.events.size()), site);
    } else {
        j = liveBoardJson(board, SiteBoard::last(b.records, b.newRecords),
                          SiteBoard::last(b.events, b.newEvents));
        b.newRecords = b.newEvents = 0;
    }
    j.pop_back();
    return j + ",\"live\":" + live + "}";
}

void HubWeb::upgrade(QTcpSocket* socket) {
    // The head is still unread: it says which live view the socket is for.
    const QByteArray head = socket->peek(static_cast<qint64>(web::kMaxHead));
    const web::ParseResult p = web::parseRequestHead(std::string_view(head.constData(), head.size()));
    if (p.outcome == web::ParseResult::Outcome::Complete && p.request.path == "/ws") {
        m_live->take(socket);
    } else if (const auto site = p.outcome == web::ParseResult::Outcome::Complete
                                     ? boardSite(p.request.path, "/ws") : std::nullopt) {
        board(*site).live->take(socket);
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void HubWeb::pushTick() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Changes as they come, and the counts every second even without any,
    // so an open page can tell a quiet chain from a dead link.
    const bool beat = now - m_lastPush >= kHeartbeat.count();
    for (auto it = m_boards.begin(); it != m_boards.end();) {
        SiteBoard& b = *it->second;
        if (b.live->clients() == 0 && now - b.created > kBoardLinger) {
            it = m_boards.erase(it);
            continue;
        }
        if (beat || m_dirty.count(it->first) || b.newRecords || b.newEvents) b.live->push();
        ++it;
    }
    if (m_dirty.empty() && !beat && !m_alarmsDirty && m_forgotten.empty()) return;
    m_lastPush = now;
    m_live->push();
    m_dirty.clear();
    m_forgotten.clear();
    m_alarmsDirty = false;
}

std::optional<std::string> HubWeb::boardSite(std::string_view path, std::string_view tail) const {
    constexpr std::string_view kSitePath = "/site/";
    if (!path.starts_with(kSitePath) || !path.ends_with(tail) ||
        path.size() <= kSitePath.size() + tail.size())
        return std::nullopt;
    const std::string_view raw = path.substr(kSitePath.size(), path.size() - kSitePath.size() - tail.size());
    if (raw.find('/') != std::string_view::npos) return std::nullopt;
    auto name = percentDecoded(raw);
    if (!name || name->size() > kMaxSiteName || !m_hub.table().find(*name)) return std::nullopt;
    return name;
}

web::Answer HubWeb::answer(const web::Request& request) const {
    if (!m_rule) return web::refusal(503);
    const std::string& path = request.path;
    // A booth's board socket is its own upgrade path; any other goes to /ws.
    const bool boardSocket = boardSite(path, "/ws").has_value();
    if (auto refused = web::gate(request, *m_rule, boardSocket ? path : "/ws")) return *refused;
    const SiteTable& table = m_hub.table();
    if (path == "/") return web::pageAnswer(m_page);
    if (path == "/api/sites") {
        std::string j = "{" + header() + ",\"sites\":[";
        bool comma = false;
        for (const Site* s : table.ordered()) {
            if (comma) j += ',';
            comma = true;
            j += siteJson(*s, false);
        }
        return web::jsonAnswer(j + "]}");
    }
    constexpr std::string_view kSite = "/api/site/";
    if (path.rfind(kSite, 0) == 0) {
        const auto name = percentDecoded(path.substr(kSite.size()));
        const Site* s = name ? table.find(*name) : nullptr;
        if (!s) return web::textAnswer(404, "No such site");
        return web::jsonAnswer("{" + header() + ",\"site\":" + siteJson(*s, true) + "}");
    }
    if (path == "/api/action") {
        web::Answer a = web::textAnswer(405, "Actions are POSTed");
        a.headers.emplace_back("Allow", "POST");
        return a;
    }
    if (path == "/api/alarms") return web::jsonAnswer(m_hub.alarms().listJson());
    if (path == "/api/notifications") {
        return web::jsonAnswer(m_notificationList ? m_notificationList() : "[]");
    }
    History* h = m_hub.history();
    if (path == "/api/events" || path == "/api/history") {
        if (!h) return web::textAnswer(404, "No history kept (--db)");
        const std::string site = web::queryValue(request.query, "site");
        if (site.size() > kMaxSiteName) return web::textAnswer(400, "site is too long");
        if (path == "/api/events") {
            std::int64_t after = 0;
            const std::string a = web::queryValue(request.query, "after");
            if (!a.empty() && (a.size() > 15 || !parseDecimal(a, after)))
                return web::textAnswer(400, "after is an event id");
            return web::jsonAnswer(h->eventsJson(site, after, kMaxRowsAnswered));
        }
        if (site.empty()) return web::textAnswer(400, "site is required");
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        const auto from = timeParameter(web::queryValue(request.query, "from"), now - 24 * 3600 * 1000);
        const auto to = timeParameter(web::queryValue(request.query, "to"), now + 1);
        if (!from || !to) return web::textAnswer(400, "from and to are times");
        return web::jsonAnswer(h->historyJson(site, *from, *to, kMaxRowsAnswered));
    }
    constexpr std::string_view kReport = "/report";
    if (path.rfind("/site/", 0) == 0 && path.size() > 6 + kReport.size() &&
        path.compare(path.size() - kReport.size(), kReport.size(), kReport) == 0) {
        if (!h) return web::textAnswer(404, "No history kept (--db)");
        const auto name = percentDecoded(path.substr(6, path.size() - 6 - kReport.size()));
        if (!name || !table.find(*name)) return web::textAnswer(404, "No such site");
        return nightReport(*name, web::queryValue(request.query, "night"));
    }
    if (path.rfind("/site/", 0) == 0) {
        if (!boardSite(path, "")) return web::textAnswer(404, "No such site");
        return web::pageAnswer(m_boardPage);
    }
    return web::textAnswer(404, "Not found");
}

web::Answer HubWeb::nightReport(const std::string& site, const std::string& night) const {
    const QDate date = QDate::fromString(QString::fromStdString(night), Qt::ISODate);
    if (!date.isValid() || !parseReportTime(night) || night.size() != 10)
        return web::textAnswer(400, "night is a date, YYYY-MM-DD");
    LogReadStats stats;
    const NightFacts facts = nightFacts(*m_hub.history(), site, night, &stats);
    const std::string title = site + " — night of " + night;
    return web::pageAnswer(renderHtml(ReportInput{facts, stats, title}));
}

}  // namespace lw::hub
