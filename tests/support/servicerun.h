#pragma once
// The headless service as its tests meet it: the real program started on
// loopback with a free port, a bus on a pseudo-terminal behind a fixed path,
// plain HTTP spoken over a socket.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>
#include <string>

#include "support/eventually.h"
#include "support/files.h"
#include "support/testbus.h"

namespace lwtest {

struct HttpReply {
    int status = 0;  // 0: no answer, or the connection was dropped
    QByteArray head;
    QByteArray body;
};

// Sends `request` as it is and reads one answer (by its Content-Length).
inline HttpReply rawHttp(quint16 port, const QByteArray& request, int timeoutMs = 5000) {
    HttpReply reply;
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(timeoutMs)) return reply;
    s.write(request);
    QByteArray in;
    QElapsedTimer t;
    t.start();
    qsizetype want = -1;
    while (t.elapsed() < timeoutMs) {
        if (!s.waitForReadyRead(100) && s.state() != QAbstractSocket::ConnectedState &&
            s.bytesAvailable() == 0) {
            break;
        }
        in += s.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end >= 0 && want < 0) {
            static const QRegularExpression length(
                QStringLiteral("(?i)\r\ncontent-length: *(\\d+)"));
            const auto m = length.match(QString::fromLatin1(in.left(end)));
            want = end + 4 + (m.hasMatch() ? m.captured(1).toLongLong() : 0);
        }
        if (want >= 0 && in.size() >= want) break;
    }
    const qsizetype end = in.indexOf("\r\n\r\n");
    if (!in.startsWith("HTTP/1.1 ") || end < 0) return reply;
    reply.status = in.mid(9, 3).toInt();
    reply.head = in.left(end);
    reply.body = in.mid(end + 4);
    return reply;
}

inline HttpReply httpGet(quint16 port, const QByteArray& target, const QByteArray& extra = {}) {
    return rawHttp(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                             QByteArray::number(port) + "\r\n" + extra + "\r\n");
}

// The real linewarden-monitor, its journal lines collected.
class ServiceRun {
public:
    ~ServiceRun() { stop(); }

    // Starts it with `args` and waits for `waitFor` in the journal (by
    // default the web board's address).
    bool start(const QStringList& args, const QString& waitFor = {}) {
        m_proc.setProgram(QStringLiteral(LW_MONITOR));
        m_proc.setArguments(args);
        m_proc.setProcessChannelMode(QProcess::SeparateChannels);
        m_proc.start();
        if (!m_proc.waitForStarted(5000)) return false;
        static const QRegularExpression at(QStringLiteral("web board on http://[^ ]*:(\\d+)/"));
        if (!(waitFor.isEmpty() ? waitForLine(at) : waitForText(waitFor))) return false;
        // The web board, when there is one, is told before the port.
        const auto m = at.match(m_journal);
        if (m.hasMatch()) m_port = static_cast<quint16>(m.captured(1).toUInt());
        return true;
    }

    bool waitForText(const QString& text, int timeoutMs = 10000) {
        return waitForLine(QRegularExpression(QRegularExpression::escape(text)), timeoutMs);
    }
    bool waitForLine(const QRegularExpression& re, int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            collect();
            if (re.match(m_journal).hasMatch()) return true;
            if (m_proc.state() == QProcess::NotRunning) return false;
            m_proc.waitForReadyRead(50);
            QCoreApplication::processEvents();
        }
        return false;
    }

    // SIGTERM, then the exit status (or -1 when it had to be killed).
    int terminate(int timeoutMs = 5000) {
        if (m_proc.state() == QProcess::NotRunning) return m_proc.exitCode();
        m_proc.terminate();
        if (!m_proc.waitForFinished(timeoutMs)) {
            m_proc.kill();
            m_proc.waitForFinished(2000);
            return -1;
        }
        collect();
        return m_proc.exitStatus() == QProcess::NormalExit ? m_proc.exitCode() : -1;
    }
    void stop() {
        if (m_proc.state() != QProcess::NotRunning) terminate();
    }

    quint16 port() const { return m_port; }
    qint64 pid() const { return m_proc.processId(); }
    bool running() const { return m_proc.state() == QProcess::Running; }
    const QString& journal() {
        collect();
        return m_journal;
    }

    QJsonObject board() {
        const HttpReply r = httpGet(m_port, "/api/board");
        return QJsonDocument::fromJson(r.body).object();
    }
    QJsonArray records(qint64 after = 0) {
        const HttpReply r = httpGet(m_port, "/api/records?after=" + QByteArray::number(after));
        return QJsonDocument::fromJson(r.body).array();
    }
    // Polls the board until `pred` holds; the last board read.
    template <typename Pred>
    std::optional<QJsonObject> boardWhen(Pred pred, int timeoutMs = 10000) {
        QJsonObject b;
        if (lwtest::eventually([&] { return pred(b = board()); },
                               std::chrono::milliseconds(timeoutMs))) {
            return b;
        }
        return std::nullopt;
    }

    // Resident memory in KiB, from /proc.
    qint64 rssKiB() const {
        QFile f(QStringLiteral("/proc/%1/status").arg(m_proc.processId()));
        if (!f.open(QIODevice::ReadOnly)) return -1;
        static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
        const auto m = rss.match(QString::fromLatin1(f.readAll()));
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }

private:
    void collect() { m_journal += QString::fromLocal8Bit(m_proc.readAllStandardError()); }

    QProcess m_proc;
    QString m_journal;
    quint16 m_port = 0;
};

inline QJsonObject unit(const QJsonObject& board, int slot) {
    return board.value(QStringLiteral("units")).toArray().at(slot - 1).toObject();
}
inline QString field(const QJsonObject& board, int slot, const char* name) {
    return unit(board, slot).value(QLatin1String(name)).toString();
}

// A file's bytes as Qt compares them.
inline QByteArray readAll(const QString& path) { return QByteArray::fromStdString(readFile(path)); }

}  // namespace lwtest
