#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <functional>
#include <string>

#include "core/busport.h"
#include "core/busprotocol.h"

class QSettings;
class QSocketNotifier;

namespace lw {

// The device a COM port number stands for: the settings key Ports/COM<n>
// when present, else the platform's n-th serial port.
QString deviceForPort(int n, const QSettings& settings);
QString defaultDeviceForPort(int n);

// The per-user settings store.
QString settingsApplication();

// A serial port as the monitor uses it, read-only: select the port, set the
// line format, open, close, ask whether open, read what came. Nothing is
// ever written to the line, and handshaking and modem lines are left alone.
// On POSIX systems bytes wait in the driver until the monitor asks for them,
// so an open port costs no wake-up per arriving chunk; a hang-up is still
// noticed at once.
class CommPort final : public QObject, public SerialPortOps {
    Q_OBJECT
public:
    using Resolver = std::function<QString(int)>;
    using LostHandler = std::function<void(const std::string&)>;

    // `resolve` maps a port number to a device; by default the settings store.
    explicit CommPort(Resolver resolve = {}, QObject* parent = nullptr);
    ~CommPort() override;

    Result<> setCommPort(int n) override;
    Result<> setSettings(const std::string& text) override;
    Result<> setPortOpen(bool open) override;
    bool portOpen() const override;
    std::string input() override;

    int commPort() const { return m_number; }
    QString device() const { return m_device; }

    // Told once each time an open port's device goes away.
    void setLostHandler(LostHandler handler) override { m_onLost = std::move(handler); }

private:
    void lose(const std::string& why);
    bool deviceVanished() const;
    void readAtTicksOnly();
    void closePort();

    Resolver m_resolve;
    LostHandler m_onLost;
    QSerialPort m_port;
    int m_number = 0;
    bool m_numberValid = false;
    int m_baud = 9600;  // the line format a port starts with: "9600,n,8,1"
    QString m_device;
    bool m_losing = false;
    bool m_direct = false;                // the descriptor itself is read, at each input()
    QSocketNotifier* m_hangUp = nullptr;  // a child; told of hang-ups only
};

}  // namespace lw
