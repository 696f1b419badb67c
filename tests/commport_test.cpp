// The serial layer against pseudo-terminals the test makes itself.
#include "serial/commport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "support/eventually.h"
#include "tools/pty.h"

using lw::CommPort;

namespace {

// Reads like the decoder tick does, letting the event loop run in between,
// until `want` bytes came or time ran out.
std::string drain(CommPort& port, std::size_t want, std::size_t* largest = nullptr,
                  int timeoutMs = 5000) {
    std::string got;
    lwtest::eventually(
        [&] {
            const std::string in = port.input();
            if (largest) *largest = std::max(*largest, in.size());
            got += in;
            return got.size() >= want;
        },
        std::chrono::milliseconds(timeoutMs));
    return got;
}

}  // namespace

class CommPortTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_pty.create());
        m_port = std::make_unique<CommPort>([this](int) { return m_device; });
        m_device = QString::fromStdString(m_pty.slavePath());
    }
    void cleanup() {
        m_port.reset();
        m_pty = lw::Pty();
    }

    void bytesArriveUnchangedInOrderAtMostABufferARead() {
        QVERIFY(m_port->setCommPort(1).ok);
        QVERIFY(m_port->setSettings("4800,n,8,1").ok);
        QVERIFY(m_port->setPortOpen(true).ok);
        QVERIFY(m_port->portOpen());
        std::string sent;
        for (int round = 0; round < 12; ++round) {
            for (int b = 0; b < 256; ++b) sent += static_cast<char>(b);
        }
        std::size_t written = 0;
        std::size_t largest = 0;
        std::string got;
        QElapsedTimer t;
        t.start();
        while ((written < sent.size() || got.size() < sent.size()) && t.elapsed() < 10000) {
            written += m_pty.write(std::string_view(sent).substr(written));
            got += drain(*m_port, got.size() + 1, &largest, 200);
        }
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);
        QVERIFY(largest <= 1024);
        QVERIFY(largest > 0);
        // The monitor side never wrote a byte.
        QCOMPARE(m_pty.readAvailable(), std::string());
    }

    void bytesWaitInTheDriverUntilTheTickAsks() {
        QVERIFY(m_port->setCommPort(1).ok && m_port->setSettings("4800,n,8,1").ok);
        QVERIFY(m_port->setPortOpen(true).ok);
        // Between reads the event loop runs but nothing takes the bytes: a
        // flush of the line's input drops them, so the next read finds none.
        m_pty.write("0iq");
        QTest::qWait(300);
        m_pty.discardUnread();
        QCOMPARE(m_port->input(), std::string());
        // A backlog comes out at most 1024 bytes a read, oldest first.
        std::string sent;
        for (int i = 0; i < 3000; ++i) sent += static_cast<char>('0' + i % 40);
        std::size_t written = 0;
        for (int i = 0; i < 100 && written < sent.size(); ++i) {
            written += m_pty.write(std::string_view(sent).substr(written));
            QTest::qWait(10);
        }
        QCOMPARE(written, sent.size());
        QTest::qWait(100);
        const std::string first = m_port->input();
        const std::string second = m_port->input();
        const std::string third = m_port->input();
        QCOMPARE(first.size(), std::size_t{1024});
        QCOMPARE(second.size(), std::size_t{1024});
        QCOMPARE(first + second + third, sent);
        QCOMPARE(m_port->input(), std::string());
    }

    void hangUpIsToldWithoutWaitingForARead() {
        int told = 0;
        m_port->setLostHandler([&](const std::string& why) {
            ++told;
            QVERIFY(!why.empty());
        });
        QVERIFY(m_port->setCommPort(1).ok && m_port->setSettings("4800,n,8,1").ok);
        QVERIFY(m_port->setPortOpen(true).ok);
        m_pty.closeSlave();
        m_pty.closeMaster();
        // No input() here: the hang-up itself wakes the port.
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 2000);
        QVERIFY(!m_port->portOpen());
        QTest::qWait(100);
        QCOMPARE(told, 1);
        QCOMPARE(m_port->input(), std::string());
        // The same port opens again once a device is there.
        QVERIFY(m_pty.create());
        m_device = QString::fromStdString(m_pty.slavePath());
        QVERIFY(m_port->setPortOpen(true).ok);
        m_pty.write("0iu");
        QCOMPARE(drain(*m_port, 3), std::string("0iu"));
    }

    void nothingIsWrittenAcrossOpenAndClose() {
        for (int i = 0; i < 3; ++i) {
            QVERIFY(m_port->setCommPort(2).ok);
            QVERIFY(m_port->setSettings("1200,n,8,1").ok);
            QVERIFY(m_port->setPortOpen(true).ok);
            m_pty.write("0iq");
            QCOMPARE(drain(*m_port, 3), std::string("0iq"));
            QVERIFY(m_port->setPortOpen(false).ok);
            QVERIFY(m_port->setPortOpen(false).ok);  // closing twice is harmless
            QVERIFY(!m_port->portOpen());
        }
        QTest::qWait(50);
        QCOMPARE(m_pty.readAvailable(), std::string());
    }

    void badNumbersAndLineFormatsAreErrors() {
        QVERIFY(!m_port->setCommPort(0).ok);
        QVERIFY(!m_port->setCommPort(-3).ok);
        QVERIFY(!m_port->setSettings(",n,8,1").ok);
        QVERIFY(!m_port->setSettings("4800,e,8,1").ok);
        const auto open = m_port->setPortOpen(true);
        QVERIFY(!open.ok);
        QVERIFY(!open.error.empty());
        QVERIFY(!m_port->portOpen());
        // A rejected line format leaves the one before: a port opens at
        // 9600,n,8,1 until told otherwise, as the detection's scan relies on.
        QVERIFY(m_port->device().isEmpty());  // no device for a bad number
        QVERIFY(m_port->setCommPort(1).ok);
        QCOMPARE(m_port->device(), m_device);  // named before the open, for its failure
        QVERIFY(m_port->setPortOpen(true).ok);
        QVERIFY(m_port->portOpen());
    }

    void missingDeviceFailsWithTheLibraryText() {
        m_device = QStringLiteral("/dev/linewarden-no-such-tty");
        m_port->setCommPort(7);
        m_port->setSettings("4800,n,8,1");
        const auto r = m_port->setPortOpen(true);
        QVERIFY(!r.ok);
        QVERIFY2(r.error != "Unknown error", r.error.c_str());
        QVERIFY(!r.error.empty());
        qInfo("missing port: %s", r.error.c_str());
        QVERIFY(!m_port->portOpen());
        QCOMPARE(m_port->input(), std::string());
    }

    void busyPortFailsAndStaysClosed() {
        QVERIFY(m_port->setCommPort(1).ok && m_port->setSettings("4800,n,8,1").ok);
        QVERIFY(m_port->setPortOpen(true).ok);
        CommPort second([this](int) { return m_device; });
        second.setCommPort(1);
        second.setSettings("4800,n,8,1");
        const auto r = second.setPortOpen(true);
        QVERIFY(!r.ok);
        QVERIFY2(!r.error.empty(), r.error.c_str());
        qInfo("busy port: %s", r.error.c_str());
        QVERIFY(!second.portOpen());
        QVERIFY(m_port->portOpen());
    }

    void hangUpClosesThePortAndIsToldOnce() {
        int told = 0;
        m_port->setLostHandler([&](const std::string& why) {
            ++told;
            qInfo("hang-up: %s", why.c_str());
        });
        m_port->setCommPort(1);
        m_port->setSettings("4800,n,8,1");
        QVERIFY(m_port->setPortOpen(true).ok);
        m_pty.closeSlave();
        m_pty.write("0iu");
        QCOMPARE(drain(*m_port, 3), std::string("0iu"));
        m_pty.closeMaster();
        QVERIFY(lwtest::eventually(
            [&] {
                m_port->input();
                return !m_port->portOpen();
            },
            std::chrono::seconds(3)));
        QTest::qWait(100);
        QCOMPARE(m_port->input(), std::string());
        QCOMPARE(told, 1);
    }

    void vanishedDeviceNodeIsNoticed() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyUSB-test"));
        QVERIFY(QFile::link(m_device, link));
        m_device = link;
        int told = 0;
        m_port->setLostHandler([&](const std::string& why) {
            ++told;
            QVERIFY(!why.empty());
        });
        m_port->setCommPort(3);
        m_port->setSettings("4800,n,8,1");
        QVERIFY(m_port->setPortOpen(true).ok);
        QVERIFY(QFile::remove(link));
        QCOMPARE(m_port->input(), std::string());
        QVERIFY(!m_port->portOpen());
        m_port->input();
        QCOMPARE(told, 1);
    }

    void comNumbersMapThroughTheSettingsStore() {
        QTemporaryDir dir;
        QSettings s(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        s.setValue(QStringLiteral("Ports/COM3"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(lw::deviceForPort(3, s), QStringLiteral("/dev/ttyUSB0"));
#ifdef Q_OS_WIN
        QCOMPARE(lw::deviceForPort(4, s), QStringLiteral("COM4"));
#else
        QCOMPARE(lw::deviceForPort(4, s), QStringLiteral("/dev/ttyS3"));
        QCOMPARE(lw::deviceForPort(1, s), QStringLiteral("/dev/ttyS0"));
#endif
    }

private:
    lw::Pty m_pty;
    QString m_device;
    std::unique_ptr<CommPort> m_port;
};

QTEST_GUILESS_MAIN(CommPortTest)
#include "commport_test.moc"
