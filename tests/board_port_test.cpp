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

namespace {

// The serial layer's port, counting the board's attempts to open it.
class CountingOpens final : public lw::SerialPortOps {
public:
    explicit CountingOpens(std::unique_ptr<lw::CommPort> port) : m_port(std::move(port)) {}
    bool portOpen() const override { return m_port->portOpen(); }
    std::string input() override { return m_port->input(); }
    lw::Result<> setCommPort(int n) override { return m_port->setCommPort(n); }
    lw::Result<> setSettings(const std::string& t) override { return m_port->setSettings(t); }
    lw::Result<> setPortOpen(bool open) override {
        if (open) ++opens;
        return m_port->setPortOpen(open);
    }
    void setLostHandler(std::function<void(const std::string&)> h) override {
        m_port->setLostHandler(std::move(h));
    }
    int opens = 0;

private:
    std::unique_ptr<lw::CommPort> m_port;
};

}  // namespace

class BoardPortTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("ttyUSB-kx40"));
        m_bus.emplace(m_link);
        QVERIFY(m_bus->plugIn());
        m_b.emplace([this](lw::gui::BoardServices& s) {
            auto port = std::make_unique<lw::CommPort>([this](int) { return m_link; });
            s.portDevice = [p = port.get()] { return p->device(); };
            auto counting = std::make_unique<CountingOpens>(std::move(port));
            m_opens = &counting->opens;
            s.port = std::move(counting);
        });
        m_board = m_b->form;
        m_sink = m_b->sink;
        m_b->boot();
        m_b->options->Check3->setChecked(true);
    }
    void cleanup() {
        m_b.reset();
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
        QCOMPARE(m_b->dialogs.notices.size(), std::size_t(1));
        const QString told = m_b->dialogs.notices[0].text;
        QCOMPARE(m_b->dialogs.notices[0].title, QStringLiteral("COMMPORT LOST"));
        QVERIFY2(told.contains(QStringLiteral("COM 1")) && told.contains(m_link), qPrintable(told));
        QVERIFY2(!told.contains(QStringLiteral("Unknown error")), qPrintable(told));
        // Still lost after a retry: the board keeps saying so, told once.
        const int opensAtLoss = *m_opens;
        QTRY_VERIFY_WITH_TIMEOUT(*m_opens > opensAtLoss, 2 * lw::PortKeeper::kRetryPeriod.count());
        QCOMPARE(m_board->windowTitle(), QStringLiteral("STATUS REMOTE - COMMPORT LOST"));
        QCOMPARE(m_b->dialogs.notices.size(), std::size_t(1));
        QVERIFY(m_b->dialogs.messages.empty());
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
        QVERIFY(m_b->dialogs.messages.empty());
        QCOMPARE(m_bus->cameBack(), std::string());  // still only listening
    }

private:
    QString status(int slot) {
        return m_board->findChild<QLabel*>(QStringLiteral("stat1(%1)").arg(slot))->text();
    }

    QTemporaryDir m_dir;
    QString m_link;
    std::optional<lwtest::TestBus> m_bus;
    std::optional<lwtest::Board> m_b;
    lwtest::MemorySink* m_sink = nullptr;
    lw::gui::Form1* m_board = nullptr;
    int* m_opens = nullptr;
};

QTEST_MAIN(BoardPortTest)
#include "board_port_test.moc"
