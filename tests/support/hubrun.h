#pragma once
// linewarden-hub as its tests run it: the real program, its journal read as it comes.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

#include "support/mosquittobroker.h"

namespace lwtest {

// One linewarden-hub process and its journal.
class HubRun {
public:
    bool start(const QStringList& args) {
        m_proc = std::make_unique<QProcess>();
        m_proc->setProcessChannelMode(QProcess::MergedChannels);
        m_proc->start(QStringLiteral(LW_HUB), args);
        return m_proc->waitForStarted(5000) && waitFor(QStringLiteral("subscribed at"));
    }
    bool waitFor(const QString& text, int ms = 10000) {
        return lwtest::waitUntil([&] { return journal().contains(text); }, ms);
    }
    QString journal() {
        if (m_proc) m_journal += QString::fromLocal8Bit(m_proc->readAll());
        return m_journal;
    }
    void kill() {
        m_proc->kill();
        m_proc->waitForFinished(5000);
        journal();
    }
    int stop() {
        m_proc->terminate();
        m_proc->waitForFinished(10000);
        journal();
        return m_proc->exitStatus() == QProcess::NormalExit ? m_proc->exitCode() : -1;
    }

private:
    std::unique_ptr<QProcess> m_proc;
    QString m_journal;
};

}  // namespace lwtest
