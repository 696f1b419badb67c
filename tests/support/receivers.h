#pragma once

// Receivers for what the notifier delivers, all on loopback: an HTTP
// receiver (a webhook or an ntfy server) that records every request, and an
// SMTP sink (aiosmtpd) that records every mail. Skip a test when
// SmtpSink::missing() names something.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "support/eventually.h"

namespace lwtest {

struct HttpRequest {
    QByteArray method;
    QByteArray target;                     // path and query as sent
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    qint64 at = 0;  // when it was whole here, ms since the epoch
};

// Answers every request with `status` and closes; stop() and start(port())
// take it down and bring it back on the same port.
class HttpReceiver : public QObject {
public:
    int status = 200;
    QList<HttpRequest> requests;

    bool start(quint16 port = 0) {
        if (!m_server.listen(QHostAddress::LocalHost, port)) return false;
        m_port = m_server.serverPort();
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                s->setParent(this);
                auto buffer = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] { read(s, *buffer); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        return true;
    }
    void stop() {
        m_server.close();
        m_server.disconnect(this);
        for (QTcpSocket* s : findChildren<QTcpSocket*>()) s->abort();
    }
    quint16 port() const { return m_port; }
    QString url(const QString& pathAndQuery) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery);
    }

private:
    void read(QTcpSocket* s, QByteArray& buffer) {
        buffer += s->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) return;
        HttpRequest r;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        r.method = first.value(0);
        r.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                r.headers[lines[i].left(colon).trimmed().toLower()] =
                    lines[i].mid(colon + 1).trimmed();
        }
        const qsizetype length = r.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < headEnd + 4 + length) return;
        r.body = buffer.mid(headEnd + 4, length);
        r.at = QDateTime::currentMSecsSinceEpoch();
        requests << r;
        const QByteArray reason = status == 200 ? "OK" : status == 302 ? "Found" : "Error";
        s->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason +
                 "\r\nLocation: /elsewhere\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    quint16 m_port = 0;
};

// aiosmtpd on a free loopback port, printing every mail it takes.
class SmtpSink {
public:
    ~SmtpSink() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // A Python that has aiosmtpd: the system one first, whatever PATH says.
    static QString python() {
        for (QString candidate : {"/usr/bin/python3", "python3"}) {
            QProcess p;
            p.start(candidate, {"-c", "import aiosmtpd"});
            if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && !p.exitCode())
                return candidate;
        }
        return {};
    }
    static QString msmtp() { return QStandardPaths::findExecutable("msmtp"); }
    // What the mail tests need and is not installed, or empty.
    static QString missing() {
        return msmtp().isEmpty() ? "msmtp" : python().isEmpty() ? "python3-aiosmtpd" : "";
    }

    bool start() {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) return false;
        m_port = probe.serverPort();
        probe.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PYTHONUNBUFFERED", "1");
        m_process.setProcessEnvironment(env);
        m_process.start(python(),
                        {"-m", "aiosmtpd", "-n", "-l", QString("127.0.0.1:%1").arg(m_port), "-c",
                         "aiosmtpd.handlers.Debugging", "stdout"});
        const auto accepts = [this] {
            QTcpSocket c;
            c.connectToHost(QHostAddress::LocalHost, m_port);
            return m_process.state() == QProcess::NotRunning || c.waitForConnected(200);
        };
        return eventually(accepts, std::chrono::seconds(20)) &&
               m_process.state() == QProcess::Running;
    }
    quint16 port() const { return m_port; }

    // An msmtp configuration in `dir` that hands every mail to this sink; its path.
    QString writeMsmtpConfig(const QDir& dir) const {
        QFile f(dir.filePath("msmtprc"));
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(QString("account default\nhost 127.0.0.1\nport %1\nauth off\ntls off\n"
                        "from linewarden@localhost\n")
                    .arg(m_port)
                    .toUtf8());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return f.fileName();
    }

    // Every whole mail taken so far, as the sink printed it (headers, an
    // X-Peer line, a blank line, the body).
    QList<QByteArray> messages() {
        static const QByteArray begin = "---------- MESSAGE FOLLOWS ----------\n";
        static const QByteArray end = "------------ END MESSAGE ------------\n";
        m_output += m_process.readAllStandardOutput();
        QList<QByteArray> mails;
        for (qsizetype b = 0, e = 0;
             (b = m_output.indexOf(begin, e)) >= 0 && (e = m_output.indexOf(end, b)) >= 0;)
            mails << m_output.mid(b + begin.size(), e - b - begin.size());
        return mails;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_output;
};

}  // namespace lwtest
