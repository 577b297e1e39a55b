#include "platform/UnixSignals.h"

#include "platform/ProcessExit.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vennimo {

namespace {
int g_pipe[2] = {-1, -1};

void onSignal(int number) {
    const unsigned char byte = static_cast<unsigned char>(number);
    // Only async-signal-safe calls here, and the interrupted code's errno survives a failed write
    // (a full socket answers EAGAIN).
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

// SIGHUP comes from a closed terminal and, right behind SIGTERM, from a session's service manager.
// One that `nohup` set aside at the start stays set aside: the user asked to outlive the terminal.
bool hangUpIgnoredAtStart() {
    struct sigaction current {};
    return sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}
} // namespace

UnixSignals::UnixSignals(QObject* parent)
    : QObject(parent) {
    if (g_pipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            Q_EMIT terminationRequested(byte);
    });
    m_signals = {SIGTERM, SIGINT};
    if (!hangUpIgnoredAtStart())
        m_signals.append(SIGHUP);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : std::as_const(m_signals))
        sigaction(number, &action, nullptr);
}

UnixSignals::~UnixSignals() {
    // A process on its way out keeps catching them: a second signal of the same session end, a
    // SIGHUP right behind SIGTERM, must not kill it while it closes its files. Nothing reads the
    // socket any more, and a full one only refuses the handler's byte.
    if (ProcessExit::announced())
        return;
    for (const int number : std::as_const(m_signals))
        signal(number, SIG_DFL);
}

} // namespace vennimo
