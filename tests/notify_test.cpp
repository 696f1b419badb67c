// The notifier against real receivers on loopback: a webhook and an ntfy
// server of the test's own, and mail through msmtp into an aiosmtpd sink.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "net/notify/formats.h"
#include "net/notify/notifier.h"
#include "support/eventually.h"
#include "support/receivers.h"

using namespace lw::notify;
using lwtest::eventually;

namespace {

Message failedProjector(const QString& json = "{\"site\":\"odeon\",\"unit\":3}") {
    Message m;
    m.site = "odeon";
    m.kind = "opened";
    m.urgent = true;
    m.title = "Odeon: projector 3 \xe2\x80\x94 FAIL";
    m.text = "Unit 3 failed at 21:05.\nCause: NO FILM\n";
    m.tags = {"rotating_light", "odeon"};
    m.click = "http://hub.local:8080/site/odeon";
    m.json = json.toStdString();
    return m;
}

// Retries in tenths of a second rather than seconds.
QueuePolicy quick() {
    QueuePolicy p;
    p.firstRetryMs = 100;
    p.maxRetryMs = 400;
    return p;
}

}  // namespace

class NotifyTest : public QObject {
    Q_OBJECT
    std::vector<std::string> journal;
    lw::Journal journalTo() {
        return [this](const std::string& line) { journal.push_back(line); };
    }
    int journalled(const std::string& part) const {
        return static_cast<int>(std::count_if(journal.begin(), journal.end(), [&](auto& l) {
            return l.find(part) != std::string::npos;
        }));
    }

private Q_SLOTS:
    void init() { journal.clear(); }

    void webhookAndNtfyGetTheMessage() {
        lwtest::HttpReceiver hook, ntfy;
        QVERIFY(hook.start() && ntfy.start());
        const QString hookUrl =
            hook.url("/hook?key=k1").replace("http://", "http://relay:s%3Acret@");
        Notifier notifier({{ChannelKind::Webhook, hookUrl.toStdString()},
                           {ChannelKind::Ntfy, ntfy.url("/alarms").toStdString()}},
                          journalTo());
        QSignalSpy changed(&notifier, &Notifier::changed);
        QElapsedTimer latency;
        latency.start();
        notifier.send(failedProjector());
        QVERIFY(eventually(
            [&] { return notifier.statusJson().starts_with("{\"channels\":2,\"pending\":0,"); }));
        qInfo("both HTTP channels taken %lld ms after send()", latency.elapsed());

        QCOMPARE(hook.requests.size(), 1);
        const lwtest::HttpRequest& h = hook.requests[0];
        QCOMPARE(h.method, "POST");
        QCOMPARE(h.target, "/hook?key=k1");
        QCOMPARE(h.headers["content-type"], "application/json");
        QCOMPARE(h.headers["authorization"], "Basic " + QByteArray("relay:s:cret").toBase64());
        QCOMPARE(h.body, "{\"site\":\"odeon\",\"unit\":3}");

        QCOMPARE(ntfy.requests.size(), 1);
        const lwtest::HttpRequest& n = ntfy.requests[0];
        QCOMPARE(n.method, "POST");
        QCOMPARE(n.target, "/alarms");
        QVERIFY(!n.headers.contains("authorization"));
        QCOMPARE(n.headers["title"], "=?UTF-8?B?T2Rlb246IHByb2plY3RvciAzIOKAlCBGQUlM?=");
        QCOMPARE(n.headers["priority"], "5");
        QCOMPARE(n.headers["tags"], "rotating_light,odeon");
        QCOMPARE(n.headers["click"], "http://hub.local:8080/site/odeon");
        QCOMPARE(n.body, "Unit 3 failed at 21:05.\nCause: NO FILM\n");

        const QString json = QString::fromStdString(notifier.notificationsJson());
        QCOMPARE(json.count("\"state\":\"taken\""), 2);
        QVERIFY2(json.contains(QString("\"target\":\"http://127.0.0.1:%1/hook\"").arg(hook.port())),
                 qPrintable(json));
        QVERIFY(!json.contains("cret") && !json.contains("key=k1"));
        // "YYYY-MM-DDTHH:MM:SS+HH:MM", local.
        QVERIFY(QRegularExpression(
                    "\"queued\":\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d\","
                    "\"sent\":\"\\d{4}-")
                    .match(json)
                    .hasMatch());
        QVERIFY(changed.count() >= 3);  // queued, tried, taken
        QVERIFY(journal.empty());
    }

    void receiverDownThenBackGetsAllInOrder() {
        lwtest::HttpReceiver hook;
        QVERIFY(hook.start());
        const quint16 port = hook.port();
        hook.stop();
        Notifier notifier({{ChannelKind::Webhook, hook.url("/hook").toStdString()}}, journalTo(),
                          {}, quick());
        for (int i = 1; i <= 4; ++i) notifier.send(failedProjector(QString("{\"n\":%1}").arg(i)));
        QVERIFY(eventually([&] {
            return notifier.notificationsJson().find("\"attempts\":3") != std::string::npos;
        }));
        QVERIFY(notifier.statusJson().find("\"problem\":\"notify webhook http://127.0.0.1:") !=
                std::string::npos);

        QVERIFY(hook.start(port));
        QElapsedTimer back;
        back.start();
        QVERIFY(eventually([&] { return hook.requests.size() == 4; }));
        qInfo("4 queued messages delivered %lld ms after the receiver came back", back.elapsed());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(hook.requests[i].body, QString("{\"n\":%1}").arg(i + 1).toUtf8());
        QVERIFY(eventually(
            [&] { return notifier.statusJson().find("\"pending\":0") != std::string::npos; }));
        QCOMPARE(notifier.statusJson(),
                 std::string(
                     "{\"channels\":1,\"pending\":0,\"failed\":0,\"dropped\":0,\"problem\":null}"));
        QCOMPARE(journal.size(), size_t(2));
        QCOMPARE(journalled(": connection refused, retrying"), 1);
        QCOMPARE(journalled(": delivering again after "), 1);
    }

    void failuresAreReportedOncePerStreak() {
        lwtest::HttpReceiver hook;
        hook.status = 302;  // redirects are not followed
        QVERIFY(hook.start());
        Notifier notifier(
            {{ChannelKind::Webhook, hook.url("/hook").toStdString()},
             {ChannelKind::Mail, "ops@cinema.example"},
             {ChannelKind::Mail, "ops@cinema.example, boss@cinema.example"}},
            journalTo(),
            {"/bin/sh", {"-c", "cat >/dev/null; echo 'no route to mail hub' >&2; exit 75"}},
            quick());
        notifier.send(failedProjector());
        // An attempt counts from its start, its error from its end: wait for the fourth.
        const auto pendingWith = [&](const std::string& error) {
            return notifier.notificationsJson().find(
                       "\"attempts\":4,\"state\":\"pending\",\"error\":\"" + error + "\"") !=
                   std::string::npos;
        };
        QVERIFY(eventually([&] {
            return pendingWith("HTTP 302 Found") &&
                   pendingWith("/bin/sh exited with 75: no route to mail hub");
        }));
        QVERIFY(hook.requests.size() >= 3);
        QCOMPARE(journal.size(), size_t(3));
        QCOMPARE(journalled("notify mail: left out, not a plain mail address"), 1);
        QCOMPARE(journalled("notify webhook http://127.0.0.1:"), 1);
        QCOMPARE(journalled("notify mail ops@cinema.example: /bin/sh exited with 75: no route to "
                            "mail hub, retrying"),
                 1);
    }

    void mailThroughMsmtp() {
        if (const QString m = lwtest::SmtpSink::missing(); !m.isEmpty())
            QSKIP(qPrintable(m + " is not installed: the mail channel is not tried"));
        lwtest::SmtpSink sink;
        QVERIFY2(sink.start(), "aiosmtpd did not start");
        QTemporaryDir dir;
        const QString rc = sink.writeMsmtpConfig(QDir(dir.path()));
        Notifier notifier(
            {{ChannelKind::Mail, "ops@cinema.example"}}, journalTo(),
            {lwtest::SmtpSink::msmtp().toStdString(), {"-C", rc.toStdString(), "-t", "-oi"}});
        QElapsedTimer latency;
        latency.start();
        Message m = failedProjector();
        m.text += ".\n..\n";
        notifier.send(m);
        QVERIFY(eventually([&] { return sink.messages().size() == 1; }, std::chrono::seconds(30)));
        qInfo("mail taken by the sink %lld ms after send()", latency.elapsed());
        const QString mail = QString::fromUtf8(sink.messages()[0]);
        for (const char* line :
             {"\nTo: ops@cinema.example\n",
              "\nSubject: =?UTF-8?B?T2Rlb246IHByb2plY3RvciAzIOKAlCBGQUlM?=\n",
              "\nMIME-Version: 1.0\n", "\nContent-Type: text/plain; charset=utf-8\n",
              "\nContent-Transfer-Encoding: 8bit\n", "\nAuto-Submitted: auto-generated\n",
              "\n\nUnit 3 failed at 21:05.\nCause: NO "
              "FILM\n.\n..\n\nhttp://hub.local:8080/site/odeon\n"})
            QVERIFY2(("\n" + mail).contains(line), qPrintable(mail));
        QVERIFY(eventually([&] {
            return notifier.notificationsJson().find("\"state\":\"taken\"") != std::string::npos;
        }));
        QVERIFY(journal.empty());
    }
};

QTEST_GUILESS_MAIN(NotifyTest)
#include "notify_test.moc"
