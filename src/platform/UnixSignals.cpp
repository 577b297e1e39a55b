#include "platform/UnixSignals.h"

#include "platform/ProcessExit.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vennimo {

namespace {
int g_pipe[2] = {-1, -1};
std::atomic<int> g_waiting{0};

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

const QEvent::Type kSignalEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class SignalEvent : public QEvent {
public:
    explicit SignalEvent(int number)
        : QEvent(kSignalEvent)
        , m_number(number) {}
    int number() const { return m_number; }

private:
    int m_number;
};

} // namespace

UnixSignals::UnixSignals(QObject* parent)
    : QObject(parent) {
    if (g_pipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return;
    if (pipe2(m_stop, O_CLOEXEC) != 0)
        return;
    m_signals = {SIGTERM, SIGINT};
    if (!hangUpIgnoredAtStart())
        m_signals.append(SIGHUP);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : std::as_const(m_signals))
        sigaction(number, &action, nullptr);
    // Signals caught before, while nobody listened, come first, on the next turn.
    takeWaitingSignals();
    m_reader = std::thread([this] { readSignals(); });
}

UnixSignals::~UnixSignals() {
    if (m_reader.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_stop[1], &byte, 1);
        m_reader.join();
    }
    // What it posted and nobody took goes with it.
    QCoreApplication::removePostedEvents(this, kSignalEvent);
    g_waiting.store(0);
    for (int& fd : m_stop)
        if (fd >= 0)
            ::close(fd);
    // A process on its way out keeps catching them: a second signal of the same session end, a
    // SIGHUP right behind SIGTERM, must not kill it while it closes its files. Nothing reads the
    // socket any more, and a full one only refuses the handler's byte.
    if (ProcessExit::announced())
        return;
    for (const int number : std::as_const(m_signals))
        signal(number, SIG_DFL);
}

void UnixSignals::readSignals() {
    // The main thread's event loop looks at the socket only once it has handed out the events
    // queued so far, and every frame of a busy rope queues the next: a thread of its own reads it
    // and queues the signal ahead of them.
    pollfd watched[2] = {{g_pipe[0], POLLIN, 0}, {m_stop[0], POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0)
            return;
        takeWaitingSignals();
    }
}

void UnixSignals::takeWaitingSignals() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        g_waiting.fetch_add(1);
        QCoreApplication::postEvent(this, new SignalEvent(byte), Qt::HighEventPriority);
    }
}

bool UnixSignals::event(QEvent* event) {
    if (event->type() != kSignalEvent)
        return QObject::event(event);
    g_waiting.fetch_sub(1);
    Q_EMIT terminationRequested(static_cast<SignalEvent*>(event)->number());
    return true;
}

bool UnixSignals::signalWaiting() {
    return g_waiting.load() > 0;
}

} // namespace vennimo
