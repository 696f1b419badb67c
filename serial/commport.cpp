#include "serial/commport.h"

#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>


#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace lw {

namespace {
constexpr auto kReceiveBuffer = static_cast<qint64>(kReadCap);
}

QString settingsApplication() { return QStringLiteral("linewardenmdi"); }

QString defaultDeviceForPort(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

QString deviceForPort(int n, const QSettings& settings) {
    const QString key = QStringLiteral("Ports/COM%1").arg(n);
    const QString mapped = settings.value(key).toString();
    return mapped.isEmpty() ? defaultDeviceForPort(n) : mapped;
}

CommPort::CommPort(Resolver resolve, QObject* parent)
    : QObject(parent), m_resolve(std::move(resolve)) {
    if (!m_resolve) {
        m_resolve = [](int n) {
            QSettings s(settingsApplication(), settingsApplication());
            return deviceForPort(n, s);
        };
    }
    // The library's own buffer is bounded too: a flooding device waits in
    // the driver instead of growing our memory.
    m_port.setReadBufferSize(kReceiveBuffer);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if ((e == QSerialPort::ReadError || e == QSerialPort::ResourceError) && m_port.isOpen()) {
            lose(m_port.errorString().toStdString());
        }
    });
}

CommPort::~CommPort() { closePort(); }

Result<> CommPort::setCommPort(int n) {
    if (n < kMinPortNumber || n > kMaxPortNumber) {
        m_numberValid = false;
        m_number = n;
        m_device.clear();  // no device stands for it
        return Result<>::failure("Invalid Port Number");
    }
    if (m_port.isOpen()) return Result<>::failure("Port already open");
    m_number = n;
    m_numberValid = true;
    // Named from here on, so that a failure before the open names this device.
    m_device = m_resolve(n);
    return {};
}

Result<> CommPort::setSettings(const std::string& text) {
    const auto baud = parseLineSettings(text);
    if (!baud) return Result<>::failure("Invalid port settings \"" + text + "\"");
    m_baud = *baud;
    if (m_port.isOpen() && !m_port.setBaudRate(m_baud)) {
        return Result<>::failure(m_port.errorString().toStdString());
    }
    return {};
}

Result<> CommPort::setPortOpen(bool open) {
    if (!open) {
        closePort();
        return {};
    }
    if (m_port.isOpen()) return Result<>::failure("Port already open");
    if (!m_numberValid) return Result<>::failure("Invalid Port Number");
    m_device = m_resolve(m_number);
    m_port.setPortName(m_device);
    m_port.setBaudRate(m_baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadOnly)) {
        std::string why = m_port.errorString().toStdString();
        m_port.close();
        return Result<>::failure(why.empty() ? "Cannot open " + m_device.toStdString() : why);
    }
    readAtTicksOnly();
    return {};
}

void CommPort::readAtTicksOnly() {
#ifdef Q_OS_UNIX
    // The library reads the device the moment a chunk arrives, dozens of
    // wake-ups a second at 4800 baud, while the monitor wants the bytes only
    // at its tick. Its read notifier is held off and the descriptor read at
    // input(); only a hang-up or error wakes us in between. A library build
    // whose notifier is not found is simply read through the library.
    const auto notifiers = m_port.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    if (notifiers.isEmpty() || m_port.bytesAvailable() > 0) return;
    for (QSocketNotifier* n : notifiers) n->setEnabled(false);
    m_direct = true;
    m_hangUp = new QSocketNotifier(m_port.handle(), QSocketNotifier::Exception, this);
    connect(m_hangUp, &QSocketNotifier::activated, this, [this] {
        pollfd p{m_port.handle(), 0, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            lose("The device " + m_device.toStdString() + " hung up");
        }
    });
#endif
}

void CommPort::closePort() {
    // Off before the descriptor closes; deleted later, as it may be the one
    // telling the hang-up that brought us here.
    if (m_hangUp) {
        m_hangUp->setEnabled(false);
        m_hangUp->deleteLater();
        m_hangUp = nullptr;
    }
    m_direct = false;
    m_port.close();
}

bool CommPort::portOpen() const { return m_port.isOpen(); }

bool CommPort::deviceVanished() const {
    // A pulled USB adapter may raise no error at all; its node goes away.
    return m_device.startsWith(QLatin1Char('/')) && !QFileInfo::exists(m_device);
}

std::string CommPort::input() {
    if (!m_port.isOpen()) return {};
    if (deviceVanished()) {
        lose("The device " + m_device.toStdString() + " has gone away");
        return {};
    }
#ifdef Q_OS_UNIX
    if (m_direct) {
        char buf[kReadCap];
        const ssize_t n = ::read(m_port.handle(), buf, sizeof buf);
        if (n > 0) return std::string(buf, static_cast<std::size_t>(n));
        // Nothing waiting reads as 0 (the line is raw, no minimum count).
        if (n < 0 && errno != EAGAIN && errno != EINTR) lose(std::strerror(errno));
        return {};
    }
#endif
    const QByteArray data = m_port.read(kReceiveBuffer);
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void CommPort::lose(const std::string& why) {
    if (m_losing) return;
    m_losing = true;
    closePort();
    if (m_onLost) m_onLost(why);
    m_losing = false;
}

}  // namespace lw
