// The notifier against real receivers on loopback: a webhook and an ntfy
// server of the test's own, and mail through msmtp into an aiosmtpd sink.
// What goes on the wire is fixed in notify_rules_test; here it must arrive.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "net/notify/formats.h"
#include "net/notify/notifier.h"
#include "support/eventually.h"
#include "support/receivers.h"

using namespace lw::notify;
using lwtest::eventually;

namespace {

Message failedProjector(const std::string& json = "{\"site\":\"odeon\",\"unit\":3}") {
    return {"odeon",
            "opened",
            true,
            "Odeon: projector 3 \xe2\x80\x94 FAIL",
            "Unit 3 failed at 21:05.\nCause: NO FILM\n.\n",
            {"rotating_light", "odeon"},
            "http://hub.local:8080/site/odeon",
            json};
}

bool holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

class NotifyTest : public QObject {
    Q_OBJECT
    std::vector<std::string> journal;
    lw::Journal journalTo() {
        return [this](const std::string& line) { journal.push_back(line); };
    }
    QueuePolicy quick;  // retries in tenths of a second rather than seconds

private Q_SLOTS:
    void init() {
        journal.clear();
        quick.firstRetryMs = 100;
        quick.maxRetryMs = 400;
    }

    void webhookAndNtfyGetTheMessage() {
        lwtest::HttpReceiver hook, ntfy;
        QVERIFY(hook.start() && ntfy.start());
        const QString hookUrl = hook.url("/h?key=k1").replace("//", "//relay:s%3Acret@");
        Notifier notifier({{ChannelKind::Webhook, hookUrl.toStdString()},
                           {ChannelKind::Ntfy, ntfy.url("/alarms").toStdString()}},
                          journalTo());
        QElapsedTimer latency;
        latency.start();
        const Message m = failedProjector();
        notifier.send(m);
        QVERIFY(eventually([&] { return holds(notifier.statusJson(), "\"pending\":0,"); }));
        qInfo("both HTTP channels taken %lld ms after send()", latency.elapsed());

        QCOMPARE(hook.requests.size(), 1);
        const lwtest::HttpRequest& h = hook.requests[0];
        QCOMPARE(h.method + " " + h.target, "POST /h?key=k1");
        QCOMPARE(h.headers["content-type"], "application/json");
        QCOMPARE(h.headers["authorization"], "Basic " + QByteArray("relay:s:cret").toBase64());
        QCOMPARE(h.body.toStdString(), m.json);

        QCOMPARE(ntfy.requests.size(), 1);
        const lwtest::HttpRequest& n = ntfy.requests[0];
        QCOMPARE(n.method + " " + n.target, "POST /alarms");
        QVERIFY(!n.headers.contains("authorization"));
        for (const Header& header : ntfyHeaders(m))
            QCOMPARE(n.headers[QByteArray::fromStdString(header.name).toLower()].toStdString(),
                     header.value);
        QCOMPARE(n.body.toStdString(), m.text);

        const std::string json = notifier.notificationsJson();
        QVERIFY2(
            holds(json, "\"target\":\"http://127.0.0.1:" + std::to_string(hook.port()) + "/h\""),
            json.c_str());
        QVERIFY(!holds(json, "cret") && !holds(json, "k1") && !holds(json, "\"error\":\""));
        const QRegularExpression time("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d");
        const QString t = time.pattern();
        QCOMPARE(QString::fromStdString(json).count(
                     QRegularExpression("\"queued\":\"" + t + "\",\"sent\":\"" + t +
                                        "\",\"attempts\":1,\"state\":\"taken\"")),
                 2);
        QVERIFY(journal.empty());
    }

    void receiverDownThenBackGetsAllInOrder() {
        lwtest::HttpReceiver hook;
        QVERIFY(hook.start());
        const quint16 port = hook.port();
        hook.stop();
        Notifier notifier({{ChannelKind::Webhook, hook.url("/h").toStdString()}}, journalTo(), {},
                          quick);
        for (int i = 1; i <= 4; ++i) notifier.send(failedProjector(std::to_string(i)));
        QVERIFY(eventually([&] { return holds(notifier.notificationsJson(), "\"attempts\":3"); }));
        QVERIFY(holds(notifier.statusJson(),
                      "\"pending\":4,\"failed\":0,\"dropped\":0,\"problem\":\"notify webhook "
                      "http://127.0.0.1:"));

        QVERIFY(hook.start(port));
        QElapsedTimer back;
        back.start();
        QVERIFY(eventually([&] { return holds(notifier.statusJson(), "\"pending\":0"); }));
        qInfo("4 queued messages taken %lld ms after the receiver came back", back.elapsed());
        QByteArrayList bodies;
        for (const auto& r : hook.requests) bodies << r.body;
        QCOMPARE(bodies, QByteArrayList({"1", "2", "3", "4"}));
        QVERIFY(holds(notifier.statusJson(), "\"failed\":0,\"dropped\":0,\"problem\":null}"));
        QCOMPARE(journal.size(), size_t(2));
        QVERIFY(holds(journal[0], ": connection refused, retrying"));
        QVERIFY(holds(journal[1], ": delivering again after "));
    }

    void failuresReachTheJournalOncePerStreak() {
        lwtest::HttpReceiver hook;
        hook.status = 302;  // redirects are not followed
        QVERIFY(hook.start());
        Notifier notifier({{ChannelKind::Webhook, hook.url("/h").toStdString()},
                           {ChannelKind::Mail, "ops@cinema.example"},
                           {ChannelKind::Mail, "ops@cinema.example, boss@cinema.example"}},
                          journalTo(),
                          {"/bin/sh", {"-c", "cat >/dev/null; echo 'no route' >&2; exit 75"}},
                          quick);
        notifier.send(failedProjector());
        // An attempt counts from its start, its error from its end: wait for the fourth.
        const auto pendingWith = [&](const std::string& error) {
            return holds(notifier.notificationsJson(),
                         "\"attempts\":4,\"state\":\"pending\",\"error\":\"" + error + "\"");
        };
        QVERIFY(eventually([&] {
            return pendingWith("HTTP 302 Found") && pendingWith("/bin/sh exited with 75: no route");
        }));
        QCOMPARE(journal.size(), size_t(3));
        QVERIFY(holds(journal[0], "notify mail: left out, not a plain mail address"));
        std::sort(journal.begin() + 1, journal.end());
        QVERIFY(
            holds(journal[1],
                  "notify mail ops@cinema.example: /bin/sh exited with 75: no route, retrying"));
        QVERIFY(holds(journal[2], "notify webhook http://127.0.0.1:"));
    }

    void mailThroughMsmtp() {
        if (const QString m = lwtest::SmtpSink::missing(); !m.isEmpty())
            QSKIP(qPrintable(m + " is not installed: the mail channel is not tried"));
        lwtest::SmtpSink sink;
        QVERIFY2(sink.start(), "aiosmtpd did not start");
        QTemporaryDir dir;
        const std::string rc = sink.writeMsmtpConfig(QDir(dir.path())).toStdString();
        const std::string to = "ops@cinema.example";
        Notifier notifier({{ChannelKind::Mail, to}}, journalTo(),
                          {lwtest::SmtpSink::msmtp().toStdString(), {"-C", rc, "-t", "-oi"}});
        QElapsedTimer latency;
        latency.start();
        const Message m = failedProjector();
        notifier.send(m);
        QVERIFY(
            eventually([&] { return holds(notifier.statusJson(), "\"pending\":0,\"failed\":0"); },
                       std::chrono::seconds(30)));
        qInfo("mail taken by msmtp %lld ms after send()", latency.elapsed());
        QVERIFY(eventually([&] { return sink.messages().size() == 1; }));
        // Every header as written, the body whole (a lone "." included) after
        // the sink's own X-Peer line.
        const std::string mail = "\n" + sink.messages()[0].toStdString();
        const std::string written = mailText(m, to);
        const std::size_t split = written.find("\n\n");
        for (std::size_t at = 0; at < split; at = written.find('\n', at) + 1)
            QVERIFY2(holds(mail, "\n" + written.substr(at, written.find('\n', at) - at) + "\n"),
                     mail.c_str());
        QVERIFY2(holds(mail, written.substr(split)), mail.c_str());
        QVERIFY(holds(mail, "\nTo: ops@cinema.example\n"));
        QVERIFY(journal.empty());
    }
};

QTEST_GUILESS_MAIN(NotifyTest)
#include "notify_test.moc"
