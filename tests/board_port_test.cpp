// The status board on a real serial port: a pseudo-terminal the test makes
// behind a fixed path, unplugged and plugged back as a USB adapter would be.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "serial/commport.h"
#include "support/guifakes.h"
#include "support/testbus.h"

class BoardPortTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("ttyUSB-kx40"));
        m_bus.emplace(m_link);
        QVERIFY(m_bus->plugIn());
        m_area = std::make_unique<QMdiArea>();
        m_area->resize(1400, 1000);
        m_options = new lw::gui::Form3;
        m_area->addSubWindow(m_options);
        m_options->setLogpath(m_dir.filePath(QStringLiteral("kx40buss.txt")));
        m_raw = new lw::gui::Form2;
        m_area->addSubWindow(m_raw);
        lw::gui::BoardServices s;
        auto port = std::make_unique<lw::CommPort>([this](int) { return m_link; });
        s.portDevice = [p = port.get()] { return p->device(); };
        s.port = std::move(port);
        s.time = std::make_unique<lw::ManualTime>(lw::CivilTime{2002, 3, 1, 22, 15, 7, 0});
        s.beeper = std::make_unique<lwtest::CountingBeeper>();
        auto sink = std::make_unique<lwtest::MemorySink>();
        m_sink = sink.get();
        s.sink = std::move(sink);
        s.dialogs = &m_dialogs;
        s.namesPath = m_dir.filePath(QStringLiteral("remlabel.dat"));
        m_board = new lw::gui::Form1(*m_raw, *m_options, std::move(s));
        m_area->addSubWindow(m_board);
        m_area->show();
        m_board->load();
        m_board->show();
        m_options->Check3->setChecked(true);
    }
    void cleanup() {
        m_area.reset();
        m_bus->unplug();
    }

    void aReturningDeviceIsReopenedAndRecordsResume() {
        m_board->theport = 1;
        m_board->baud = QStringLiteral("4800");
        m_board->startremote();
        QVERIFY(m_board->Timer1.isActive());
        m_bus->send("0iq");  // unit 1 starts a show
        QTRY_COMPARE_WITH_TIMEOUT(status(1), QStringLiteral("STARTING"), 5000);

        m_bus->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(m_board->windowTitle(),
                                  QStringLiteral("STATUS REMOTE - COMMPORT LOST"), 3000);
        QCOMPARE(m_dialogs.notices.size(), std::size_t(1));
        const QString told = m_dialogs.notices[0].text;
        QCOMPARE(m_dialogs.notices[0].title, QStringLiteral("COMMPORT LOST"));
        QVERIFY2(told.contains(QStringLiteral("COM 1")) && told.contains(m_link), qPrintable(told));
        QVERIFY2(!told.contains(QStringLiteral("Unknown error")), qPrintable(told));
        // Still lost a few retries later: the board keeps saying so, told once.
        QTest::qWait(2500);
        QCOMPARE(m_board->windowTitle(), QStringLiteral("STATUS REMOTE - COMMPORT LOST"));
        QCOMPARE(m_dialogs.notices.size(), std::size_t(1));
        QVERIFY(m_dialogs.messages.empty());
        QVERIFY(m_board->isVisible() && m_board->Timer1.isActive());

        // Back at the same path: open again without a click, same speed.
        QVERIFY(m_bus->plugIn());
        QElapsedTimer back;
        back.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_board->windowTitle(), QStringLiteral("STATUS REMOTE"), 3000);
        qInfo("open again %lld ms after the device came back", back.elapsed());
        QCOMPARE(m_bus->lineSpeed(), 4800);
        const std::size_t before = m_sink->entries.size();
        m_bus->send("1iq");  // unit 2 starts a show
        QTRY_COMPARE_WITH_TIMEOUT(status(2), QStringLiteral("STARTING"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_sink->entries.size() > before, 3000);
        QVERIFY(m_sink->all().find("KX-40 #2") != std::string::npos);
        QVERIFY(!m_board->needsStart());  // "Remote" has nothing to reopen
        QVERIFY(m_dialogs.messages.empty());
        QCOMPARE(m_bus->cameBack(), std::string());  // still only listening
    }

private:
    QString status(int slot) {
        return m_board->findChild<QLabel*>(QStringLiteral("stat1(%1)").arg(slot))->text();
    }

    QTemporaryDir m_dir;
    QString m_link;
    std::optional<lwtest::TestBus> m_bus;
    lwtest::RecordingDialogs m_dialogs;
    lwtest::MemorySink* m_sink = nullptr;
    std::unique_ptr<QMdiArea> m_area;
    lw::gui::Form3* m_options = nullptr;
    lw::gui::Form2* m_raw = nullptr;
    lw::gui::Form1* m_board = nullptr;
};

QTEST_MAIN(BoardPortTest)
#include "board_port_test.moc"
