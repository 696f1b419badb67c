#pragma once
// A bus the test plays itself on a pseudo-terminal, behind a fixed path that
// survives unplugging, as a USB adapter's udev link does.
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QtTest>
#include <string>
#include <string_view>

#include "support/eventually.h"
#include "tools/pty.h"

namespace lwtest {

class TestBus {
public:
    explicit TestBus(QString link) : m_link(std::move(link)) {}
    ~TestBus() { unplug(); }

    // A fresh pair behind the link.
    bool plugIn() {
        m_pty = lw::Pty();
        if (!m_pty.create()) return false;
        QFile::remove(m_link);
        return QFile::link(QString::fromStdString(m_pty.slavePath()), m_link);
    }
    // The adapter goes: its node disappears and the line hangs up.
    void unplug() {
        QFile::remove(m_link);
        m_pty.closeSlave();
        m_pty.closeMaster();
    }
    // Writes it all, waiting while the line is full (at most 5 s).
    void send(std::string_view bytes) {
        std::size_t done = 0;
        eventually([&] {
            done += m_pty.write(bytes.substr(done));
            return done == bytes.size();
        });
    }
    // What the monitor side wrote: it should never write anything.
    std::string cameBack() { return m_pty.readAvailable(); }
    int lineSpeed() const { return m_pty.lineSpeed(); }
    const QString& link() const { return m_link; }

private:
    QString m_link;
    lw::Pty m_pty;
};

}  // namespace lwtest
