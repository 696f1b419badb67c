#include "tools/pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace lw {

Pty::~Pty() {
    closeSlave();
    closeMaster();
}

Pty::Pty(Pty&& o) noexcept
    : m_master(std::exchange(o.m_master, -1)),
      m_slave(std::exchange(o.m_slave, -1)),
      m_path(std::move(o.m_path)) {}

Pty& Pty::operator=(Pty&& o) noexcept {
    if (this != &o) {
        closeSlave();
        closeMaster();
        m_master = std::exchange(o.m_master, -1);
        m_slave = std::exchange(o.m_slave, -1);
        m_path = std::move(o.m_path);
    }
    return *this;
}

bool Pty::create(std::string* error) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    // Speed 0 until a program opens the line at a speed of its own.
    cfsetispeed(&raw, B0);
    cfsetospeed(&raw, B0);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        if (error) *error = std::strerror(errno);
        m_master = m_slave = -1;
        return false;
    }
    m_path = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

std::size_t Pty::write(std::string_view bytes) {
    if (m_master < 0 || bytes.empty()) return 0;
    const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::string Pty::readAvailable() {
    std::string out;
    if (m_master < 0) return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

void Pty::discardUnread() {
    if (m_slave >= 0) ::tcflush(m_slave, TCIFLUSH);
}

void Pty::closeSlave() {
    if (m_slave >= 0) ::close(m_slave);
    m_slave = -1;
}

int Pty::lineSpeed() const {
    termios t{};
    if (m_master < 0 || ::tcgetattr(m_master, &t) != 0) return 0;
    speed_t s = ::cfgetispeed(&t);
    if (s == B0) s = ::cfgetospeed(&t);  // input speed 0: the same as the output speed
    static constexpr std::pair<speed_t, int> kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},      {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},      {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto& [code, baud] : kRates) {
        if (code == s) return baud;
    }
    return 0;
}

bool Pty::seesLineSpeed() {
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

void Pty::closeMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

}  // namespace lw
