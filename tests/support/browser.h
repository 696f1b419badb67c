#pragma once

// Headless Chromium driven over its DevTools protocol, for the page tests.

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include "support/eventually.h"
#include "support/files.h"

namespace lwtest {

// Headless Chromium with a fresh profile and its DevTools socket.
class Browser {
public:
    ~Browser() {
        m_devtools.close();
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(5000)) m_proc.kill();
            m_proc.waitForFinished(2000);
        }
    }

    bool start(const QString& program, const QString& profile) {
        m_proc.start(program,
                     {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                      "--no-first-run", "--disable-background-networking",
                      "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
                      "--remote-debugging-port=0", "--window-size=1200,900", "about:blank"});
        if (!m_proc.waitForStarted(10000)) return false;
        // Written once the browser listens: its first line is the port.
        const QString portFile = profile + "/DevToolsActivePort";
        int port = 0;
        if (!eventually(
                [&] {
                    port = QByteArray::fromStdString(readFile(portFile)).split('\n')[0].toInt();
                    return port > 0;
                },
                std::chrono::seconds(20))) {
            return false;
        }
        QNetworkAccessManager net;
        QNetworkReply* list = net.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))));
        QSignalSpy done(list, &QNetworkReply::finished);
        if (!done.wait(10000)) return false;
        QString target;
        for (const auto& v : QJsonDocument::fromJson(list->readAll()).array()) {
            if (v.toObject().value("type") == "page") {
                target = v.toObject().value("webSocketDebuggerUrl").toString();
                break;
            }
        }
        list->deleteLater();
        if (target.isEmpty()) return false;
        QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, [this](const QString& m) {
            const QJsonObject o = QJsonDocument::fromJson(m.toUtf8()).object();
            if (o.contains("id")) m_replies[o.value("id").toInt()] = o;
        });
        QSignalSpy connected(&m_devtools, &QWebSocket::connected);
        m_devtools.open(QUrl(target));
        return connected.wait(10000);
    }

    QJsonObject call(const QString& method, const QJsonObject& params = {}) {
        const int id = ++m_next;
        m_devtools.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
                .toJson(QJsonDocument::Compact)));
        eventually([&] { return m_replies.contains(id); }, std::chrono::seconds(10));
        return m_replies.take(id);
    }

    // Evaluates `js` in the page; its value as a string.
    QString eval(const QString& js) {
        const QJsonObject r =
            call("Runtime.evaluate", {{"expression", js}, {"returnByValue", true}});
        const QJsonValue v = r.value("result").toObject().value("result").toObject().value("value");
        return v.isString()
                   ? v.toString()
                   : QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
    }

    // Polls `js` until it gives `want`.
    bool until(const QString& js, const QString& want, int timeoutMs = 10000) {
        if (eventually([&] { return eval(js) == want; }, std::chrono::milliseconds(timeoutMs))) {
            return true;
        }
        qWarning("%s gave %s, not %s", qPrintable(js), qPrintable(eval(js)), qPrintable(want));
        return false;
    }

private:
    QProcess m_proc;
    QWebSocket m_devtools;
    QHash<int, QJsonObject> m_replies;
    int m_next = 0;
};

}  // namespace lwtest
