#pragma once

// Receivers for what the notifier delivers, all on loopback: an HTTP
// receiver (a webhook or an ntfy server) that records every request, and an
// SMTP sink (aiosmtpd) that records every mail. Skip a test when
// SmtpSink::missing() names something.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
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
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // A Python that has aiosmtpd: the system one first, whatever PATH says.
    static QString python() {
        for (const QString& candidate :
             {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
            if (candidate.isEmpty() || !QFile::exists(candidate)) continue;
            QProcess p;
            p.start(candidate, {"-c", "import aiosmtpd"});
            if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit &&
                p.exitCode() == 0)
                return candidate;
        }
        return {};
    }
    static QString msmtp() { return QStandardPaths::findExecutable("msmtp"); }
    // What the mail tests need and is not installed, or empty.
    static QString missing() {
        if (msmtp().isEmpty()) return "msmtp";
        if (python().isEmpty()) return "python3-aiosmtpd";
        return {};
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
                        {"-m", "aiosmtpd", "-n", "-l", QStringLiteral("127.0.0.1:%1").arg(m_port),
                         "-c", "aiosmtpd.handlers.Debugging", "stdout"});
        return eventually(
                   [this] {
                       if (m_process.state() == QProcess::NotRunning) return true;
                       QTcpSocket c;
                       c.connectToHost(QHostAddress::LocalHost, m_port);
                       return c.waitForConnected(200);
                   },
                   std::chrono::seconds(20)) &&
               m_process.state() == QProcess::Running;
    }
    quint16 port() const { return m_port; }

    // An msmtp configuration in `dir` that hands every mail to this sink;
    // its path.
    QString writeMsmtpConfig(const QDir& dir) const {
        const QString path = dir.filePath("msmtprc");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(QStringLiteral("account default\nhost 127.0.0.1\nport %1\nauth off\ntls off\n"
                               "from linewarden@localhost\n")
                    .arg(m_port)
                    .toUtf8());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    // Every whole mail taken so far, as the sink printed it (headers, an
    // X-Peer line, a blank line, the body).
    QList<QByteArray> messages() {
        m_output += m_process.readAllStandardOutput();
        QList<QByteArray> mails;
        static const QByteArray begin = "---------- MESSAGE FOLLOWS ----------\n";
        static const QByteArray end = "------------ END MESSAGE ------------\n";
        qsizetype from = 0;
        while (true) {
            const qsizetype b = m_output.indexOf(begin, from);
            if (b < 0) break;
            const qsizetype e = m_output.indexOf(end, b);
            if (e < 0) break;
            mails << m_output.mid(b + begin.size(), e - b - begin.size());
            from = e + end.size();
        }
        return mails;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_output;
};

}  // namespace lwtest
