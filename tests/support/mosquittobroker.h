#pragma once

// A real mosquitto broker for tests, on a free loopback port, with its own
// configuration, password file and test-made certificates; and mosquitto_sub
// as the reader. Skip the test when missing() names a program.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace lwtest {

inline QString findTool(const QString& name) {
    QString p = QStandardPaths::findExecutable(name);
    if (p.isEmpty()) p = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
    return p;
}

// The first program the MQTT tests need that is not installed, or empty.
inline QString mqttToolMissing(bool tls = false) {
    QStringList need{"mosquitto", "mosquitto_sub", "mosquitto_passwd"};
    if (tls) need << "openssl";
    for (const QString& n : need) {
        if (findTool(n).isEmpty()) return n;
    }
    return {};
}

inline int freeLoopbackPort() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0)) return 0;
    return s.serverPort();
}

inline bool portAccepts(int port) {
    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return c.waitForConnected(200);
}

// Polls `done` every 20 ms for at most `ms`, handling this thread's events
// meanwhile (what other threads post to it, and its own sockets).
inline bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

inline bool runTool(const QString& tool, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(findTool(tool), args);
    if (!p.waitForFinished(30000)) return false;
    if (out) *out = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct BrokerOptions {
    QString user{};  // with a password: anonymous clients are refused
    QString password{};
    bool tls = false;          // a second listener with TLS, on tlsPort()
    bool persistence = false;  // sessions and retained messages survive a restart
    QString extra{};           // more configuration, as mosquitto.conf lines (a bridge)
};

class Broker {
public:
    Broker(const QString& dir, BrokerOptions o = {}) : m_dir(dir), m_opt(std::move(o)) {
        QDir().mkpath(dir);
        m_port = freeLoopbackPort();
        if (m_opt.tls) m_tlsPort = freeLoopbackPort();
    }
    ~Broker() { stop(); }

    int port() const { return m_port; }
    // Listens where `other` did, as the same broker started anew would.
    void takePort(const Broker& other) {
        m_port = other.m_port;
        m_tlsPort = other.m_tlsPort;
    }
    int tlsPort() const { return m_tlsPort; }
    QString caFile() const { return m_dir + "/ca.crt"; }
    QString dir() const { return m_dir; }
    QString error() const { return m_error; }

    // Writes the configuration on the first call; every call starts the
    // broker again on the same ports.
    bool start() {
        if (!m_configured && !configure()) return false;
        m_proc = std::make_unique<QProcess>();
        m_proc->setProcessChannelMode(QProcess::MergedChannels);
        m_proc->setStandardOutputFile(m_dir + "/broker.out", QIODevice::Append);
        m_proc->start(findTool("mosquitto"), {"-c", m_dir + "/mosquitto.conf"});
        if (!m_proc->waitForStarted(5000)) return fail("mosquitto did not start");
        if (!waitUntil([this] { return portAccepts(m_port); }, 5000)) {
            return fail("mosquitto does not listen: " + readFile(m_dir + "/broker.out"));
        }
        return true;
    }
    void stop() {
        if (!m_proc) return;
        m_proc->terminate();
        if (!m_proc->waitForFinished(5000)) m_proc->kill();
        m_proc->waitForFinished(2000);
        m_proc.reset();
    }
    qint64 pid() const { return m_proc ? m_proc->processId() : 0; }

    QString log() const { return readFile(m_dir + "/broker.log"); }

    // Lines of the broker's log that name a client id.
    int countInLog(const QString& text) const { return log().count(text); }

    static QString readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private:
    bool fail(const QString& why) {
        m_error = why;
        return false;
    }

    bool configure() {
        QString conf;
#ifdef Q_OS_UNIX
        // As root mosquitto would switch to its own user and lose the test folder.
        if (geteuid() == 0) conf += "user root\n";
#endif
        conf += "log_dest file " + m_dir + "/broker.log\nlog_type all\nlog_timestamp true\n";
        conf += "log_timestamp_format %s\n";
        conf += "max_queued_messages 100000\nmax_inflight_messages 20\n";
        if (m_opt.persistence) {
            conf += "persistence true\npersistence_location " + m_dir + "/\n";
            conf += "autosave_interval 1\n";
        }
        conf += "per_listener_settings false\n";
        if (m_opt.user.isEmpty()) {
            conf += "allow_anonymous true\n";
        } else {
            const QString pw = m_dir + "/passwd";
            QFile::remove(pw);
            if (!runTool("mosquitto_passwd", {"-b", "-c", pw, m_opt.user, m_opt.password})) {
                return fail("mosquitto_passwd failed");
            }
            conf += "allow_anonymous false\npassword_file " + pw + "\n";
        }
        conf += m_opt.extra;
        conf += "listener " + QString::number(m_port) + " 127.0.0.1\n";
        if (m_opt.tls) {
            if (!makeCertificates()) return false;
            conf += "listener " + QString::number(m_tlsPort) + " 127.0.0.1\n";
            conf += "cafile " + caFile() + "\ncertfile " + m_dir + "/server.crt\nkeyfile " + m_dir +
                    "/server.key\n";
        }
        QFile f(m_dir + "/mosquitto.conf");
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail("cannot write conf");
        f.write(conf.toLocal8Bit());
        m_configured = true;
        return true;
    }

    // A CA of the test's own and a server certificate for 127.0.0.1 signed by it.
    bool makeCertificates() {
        const QString d = m_dir + "/";
        QFile ext(d + "server.ext");
        if (!ext.open(QIODevice::WriteOnly)) return fail("cannot write server.ext");
        ext.write("subjectAltName=IP:127.0.0.1\n");
        ext.close();
        QString out;
        const bool ok =
            runTool("openssl",
                    {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                     "/CN=linewarden test CA", "-keyout", d + "ca.key", "-out", d + "ca.crt"},
                    &out) &&
            runTool("openssl",
                    {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                     d + "server.key", "-out", d + "server.csr"},
                    &out) &&
            runTool("openssl",
                    {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey",
                     d + "ca.key", "-CAcreateserial", "-days", "2", "-extfile", d + "server.ext",
                     "-out", d + "server.crt"},
                    &out);
        return ok || fail("openssl failed: " + out);
    }

    QString m_dir;
    BrokerOptions m_opt;
    int m_port = 0;
    int m_tlsPort = 0;
    bool m_configured = false;
    QString m_error;
    std::unique_ptr<QProcess> m_proc;
};

// One message as mosquitto_sub printed it.
struct Message {
    std::string topic;
    bool retained = false;
    std::string payload;
};

// mosquitto_sub on a topic filter, printing topic, retain flag and the payload
// in hex, so any bytes come back exactly. With an id it keeps a persistent
// session (QoS 1), so the broker queues for it while it is away.
class Subscriber {
public:
    Subscriber(const Broker& broker, const QString& filter, const QString& id,
               bool persistent = false, QStringList extra = {})
        : m_broker(broker), m_id(id) {
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(broker.port()),
                         "-t", filter,      "-q", "1",
                         "-i", id,          "-F", "%t %r %x"};
        if (persistent) args << "-c";
        args << extra;
        m_proc.start(findTool("mosquitto_sub"), args);
        m_proc.waitForStarted(5000);
    }
    ~Subscriber() {
        m_proc.kill();
        m_proc.waitForFinished(2000);
    }

    // The broker has taken the subscription (it handles packets in order, so
    // whatever it receives from now on reaches this reader).
    bool waitSubscribed(int ms = 5000) {
        const int before = m_subscribes;
        const bool ok = waitUntil(
            [&] {
                m_subscribes = m_broker.countInLog("Received SUBSCRIBE from " + m_id + "\n");
                return m_subscribes > before;
            },
            ms);
        return ok;
    }

    std::vector<Message> messages() {
        m_proc.waitForReadyRead(0);
        m_buffer += m_proc.readAllStandardOutput();
        std::vector<Message> out;
        // Whole lines only: the last one may be half written.
        const QByteArray whole = m_buffer.left(m_buffer.lastIndexOf('\n') + 1);
        for (const QByteArray& line : whole.split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() != 3) continue;
            out.push_back(
                {f[0].toStdString(), f[1] == "1", QByteArray::fromHex(f[2]).toStdString()});
        }
        return out;
    }

    std::vector<Message> on(const std::string& topic) {
        std::vector<Message> out;
        for (auto& m : messages()) {
            if (m.topic == topic) out.push_back(std::move(m));
        }
        return out;
    }

    bool waitFor(const std::function<bool(const std::vector<Message>&)>& done, int ms) {
        return waitUntil([&] { return done(messages()); }, ms);
    }

private:
    const Broker& m_broker;
    QString m_id;
    QProcess m_proc;
    QByteArray m_buffer;
    int m_subscribes = 0;
};

// Retained messages under a filter, read by a fresh mosquitto_sub that leaves
// once it has seen `count` messages (or after `seconds`).
inline std::vector<Message> retainedNow(const Broker& broker, const QString& filter, int count,
                                        int seconds = 5, const QStringList& extra = {}) {
    QProcess p;
    p.start(findTool("mosquitto_sub"),
            QStringList{"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", filter, "-F",
                        "%t %r %x", "--retained-only", "-C", QString::number(count), "-W",
                        QString::number(seconds)} +
                extra);
    p.waitForFinished((seconds + 5) * 1000);
    std::vector<Message> out;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 3) continue;
        out.push_back({f[0].toStdString(), f[1] == "1", QByteArray::fromHex(f[2]).toStdString()});
    }
    return out;
}

}  // namespace lwtest
