#include "net/notify/notifier.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrl>
#include <memory>

#include "core/jsonreader.h"
#include "core/timetext.h"
#include "net/notify/formats.h"

namespace lw::notify {
namespace {

constexpr qint64 kMaxProgramOutput = 512;  // kept of what the mail program says, for the error

std::string lowerFirst(QString s) {
    if (!s.isEmpty()) s[0] = s[0].toLower();
    return s.toStdString();
}

}  // namespace

Notifier::Notifier(std::vector<Destination> channels, Journal journal, MailProgram mail,
                   QueuePolicy policy, QObject* parent)
    : QObject(parent),
      m_journal(std::move(journal)),
      m_mail(std::move(mail)),
      m_queue(0, policy),
      m_net(new QNetworkAccessManager(this)) {
    for (Destination& dest : channels) {
        const Result<Destination> checked = parseChannel(dest.kind, dest.target);
        if (checked.ok) {
            m_destinations.push_back(std::move(dest));
            continue;
        }
        const std::string line =
            "notify " + channelName(dest.kind) + ": left out, " + checked.error;
        if (m_journal) m_journal(line);
        if (m_refused.empty()) m_refused = line;
    }
    m_queue = DeliveryQueue(m_destinations.size(), policy);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Notifier::drive);
    m_clock.start();
}

Notifier::~Notifier() {
    // What is still running reports no more: the queue may be gone first.
    m_closing = true;
    delete m_net;
    for (QProcess* p : findChildren<QProcess*>()) {
        p->disconnect();
        delete p;  // kills and reaps
    }
}

void Notifier::send(const Message& message) {
    const auto shared = std::make_shared<const Message>(message);
    for (std::size_t i = 0; i < m_destinations.size(); ++i) m_queue.offer(i, shared, nowMs());
    journalEvents();
    drive();
    Q_EMIT changed();
}

void Notifier::drive() {
    // A mail program that cannot start may report at once, from inside a start.
    if (m_driving) {
        m_driveAgain = true;
        return;
    }
    m_driving = true;
    bool any = false;
    do {
        m_driveAgain = false;
        const std::size_t failedBefore = m_queue.failed();
        for (const DeliveryQueue::Attempt& a : m_queue.due(nowMs())) {
            any = true;
            if (m_destinations[a.channel].kind == ChannelKind::Mail)
                startMail(a);
            else
                startHttp(a);
        }
        any = any || m_queue.failed() != failedBefore;
    } while (m_driveAgain);
    m_driving = false;
    journalEvents();
    if (const auto next = m_queue.nextDueMs())
        m_timer.start(std::chrono::milliseconds(std::max<std::int64_t>(0, *next - nowMs())));
    else
        m_timer.stop();
    if (any) Q_EMIT changed();
}

void Notifier::finish(std::size_t channel, std::uint64_t id, bool taken, const std::string& error) {
    if (m_closing) return;
    m_queue.finished(channel, id, taken, error, nowMs());
    Q_EMIT changed();
    drive();
}

void Notifier::startHttp(const DeliveryQueue::Attempt& a) {
    const Destination& dest = m_destinations[a.channel];
    const Message& m = *a.message;
    QUrl url(QString::fromStdString(dest.target), QUrl::StrictMode);
    QNetworkRequest request;
    if (!url.userInfo().isEmpty()) {
        // Sent at once rather than on a challenge; never left in the URL.
        const QByteArray login =
            (url.userName(QUrl::FullyDecoded) + ':' + url.password(QUrl::FullyDecoded)).toUtf8();
        request.setRawHeader("Authorization", "Basic " + login.toBase64());
        url.setUserInfo({});
    }
    request.setUrl(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("linewarden-notify"));
    QByteArray body;
    if (dest.kind == ChannelKind::Webhook) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
        body = QByteArray::fromStdString(m.json);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("text/plain; charset=utf-8"));
        for (const Header& h : ntfyHeaders(m))
            request.setRawHeader(QByteArray::fromStdString(h.name),
                                 QByteArray::fromStdString(h.value));
        body = QByteArray::fromStdString(m.text);
    }
    QNetworkReply* reply = m_net->post(request, body);
    auto timedOut = std::make_shared<bool>(false);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    deadline->start(kHttpTimeout);
    // The answer's body is not wanted: read and forget, so it costs no memory.
    connect(reply, &QNetworkReply::readyRead, reply,
            [reply] { reply->skip(reply->bytesAvailable()); });
    const std::size_t channel = a.channel;
    const std::uint64_t id = a.id;
    connect(reply, &QNetworkReply::finished, this, [this, reply, timedOut, channel, id] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        std::string error;
        if (*timedOut) {
            error = "no answer within " + std::to_string(kHttpTimeout.count() / 1000) + " s";
        } else if (status >= 200 && status < 300) {
            error.clear();
        } else if (status > 0) {
            error = "HTTP " + std::to_string(status);
            const QByteArray reason =
                reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
            if (!reason.isEmpty()) error += " " + headerText(reason.toStdString());
        } else {
            error = lowerFirst(reply->errorString());
        }
        finish(channel, id, error.empty(), error);
    });
}

void Notifier::startMail(const DeliveryQueue::Attempt& a) {
    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    QStringList args;
    for (const std::string& arg : m_mail.args) args << QString::fromStdString(arg);
    auto output = std::make_shared<QByteArray>();
    auto over = std::make_shared<bool>(false);
    const std::size_t channel = a.channel;
    const std::uint64_t id = a.id;
    const auto end = [this, process, over, channel, id](bool taken, const std::string& error) {
        if (*over) return;
        *over = true;
        process->deleteLater();
        finish(channel, id, taken, error);
    };
    connect(process, &QProcess::readyRead, process, [process, output] {
        const QByteArray more = process->readAll();
        if (output->size() < kMaxProgramOutput) output->append(more.left(kMaxProgramOutput));
    });
    connect(process, &QProcess::finished, this,
            [this, process, output, end](int code, QProcess::ExitStatus status) {
                output->append(process->readAll().left(kMaxProgramOutput));
                if (status == QProcess::NormalExit && code == 0) return end(true, {});
                std::string error = m_mail.program + (status == QProcess::NormalExit
                                                          ? " exited with " + std::to_string(code)
                                                          : std::string(" crashed"));
                const std::string said = headerText(output->left(kMaxProgramOutput).toStdString());
                if (!said.empty()) error += ": " + said;
                end(false, error);
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, end](QProcess::ProcessError e) {
                if (e == QProcess::FailedToStart)
                    end(false,
                        "cannot run " + m_mail.program + ": " + lowerFirst(process->errorString()));
            });
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [process, end] {
        end(false, "no exit within " + std::to_string(kMailTimeout.count() / 1000) + " s, killed");
        process->kill();
    });
    deadline->start(kMailTimeout);
    process->start(QString::fromStdString(m_mail.program), args);
    process->write(QByteArray::fromStdString(mailText(*a.message, m_destinations[channel].target)));
    process->closeWriteChannel();
}

void Notifier::journalEvents() {
    for (const QueueEvent& e : m_queue.takeEvents()) {
        const Destination& dest = m_destinations[e.channel];
        std::string line = "notify " + channelName(dest.kind) + " " + publicTarget(dest) + ": ";
        switch (e.kind) {
            case QueueEvent::Kind::Failing:
                line += e.error + ", retrying";
                break;
            case QueueEvent::Kind::Recovered:
                line += "delivering again after " + std::to_string(e.count) + " failed attempt" +
                        (e.count == 1 ? "" : "s");
                break;
            case QueueEvent::Kind::GaveUp:
                line += e.error + ", given up";
                break;
            case QueueEvent::Kind::Dropping:
                line += "queue full, new messages dropped";
                break;
        }
        if (m_journal) m_journal(line);
    }
}

std::string Notifier::notificationsJson() const {
    // Queue times are monotonic; shown on the wall clock as it reads now.
    const qint64 wallBase = QDateTime::currentMSecsSinceEpoch() - m_clock.elapsed();
    return deliveriesJson(m_queue.log(), m_destinations, [wallBase](std::int64_t ms) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(wallBase + ms);
        const QDate d = t.date();
        const QTime c = t.time();
        return isoText({{d.year(), d.month(), d.day(), c.hour(), c.minute(), c.second(), 0},
                        t.offsetFromUtc() / 60});
    });
}

std::string Notifier::statusJson() const {
    std::string status = lw::notify::statusJson(m_queue, m_destinations);
    if (!m_refused.empty() && status.ends_with(",\"problem\":null}")) {
        status.resize(status.size() - 5);
        status += jsonQuote(m_refused) + "}";
    }
    return status;
}

}  // namespace lw::notify
