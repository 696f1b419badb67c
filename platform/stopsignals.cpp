#include "platform/stopsignals.h"

#include <QSocketNotifier>
#include <csignal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace lw {

namespace {

volatile std::sig_atomic_t g_asked = 0;

#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};

void onSignal(int) {
    g_asked = 1;
    const char one = 1;
    // Full or closed: a byte already waits, or nobody listens any more.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &one, 1);
}

bool openPipe() {
    if (::pipe(g_pipe) != 0) return false;
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

void install(void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}
#else
void onSignal(int sig) {
    g_asked = 1;
    std::signal(sig, onSignal);
}
#endif

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    g_asked = 0;
#ifdef Q_OS_UNIX
    if (openPipe()) {
        m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
    }
    install(onSignal);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
    if (!m_notifier) {
        // No pipe to watch: look for the flag four times a second.
        connect(&m_poll, &QTimer::timeout, this, &StopSignals::drain);
        m_poll.start(250);
    }
}

StopSignals::~StopSignals() {
#ifdef Q_OS_UNIX
    install(SIG_DFL);
    m_notifier.reset();
    for (int& fd : g_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
#else
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#endif
}

void StopSignals::drain() {
#ifdef Q_OS_UNIX
    char buf[16];
    if (g_pipe[0] >= 0) {
        while (::read(g_pipe[0], buf, sizeof buf) > 0) {
        }
    }
#endif
    if (g_asked) {
        g_asked = 0;
        Q_EMIT requested();
    }
}

}  // namespace lw
