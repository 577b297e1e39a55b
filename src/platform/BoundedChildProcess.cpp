#include "platform/BoundedChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vennimo {

namespace {

// What the child sends before the pixels.
struct Header {
    qint32 code = 0;
    qint32 width = 0;
    qint32 height = 0;
    qint32 imageWidth = 0;
    qint32 imageHeight = 0;
};

// How often a waiting parent looks at its stop.
constexpr int kStopLookMs = 20;

Error childFailed() {
    return Error::failure(QStringLiteral("child process failed"));
}

// Moves exactly `size` bytes with `io` (one read or write), retrying what a signal interrupted;
// `ready` runs before each attempt and may give up.
template <class Bytes, class Io, class Ready>
bool transferAll(Bytes* data, size_t size, Io io, Ready ready) {
    while (size > 0) {
        if (!ready())
            return false;
        const ssize_t n = io(data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The data segment this process already has, from /proc without any library call that might
// wait for a lock another thread held when the process was forked.
qint64 dataSegmentBytes() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[8192];
    ssize_t size = 0;
    while (size < ssize_t(sizeof text) - 1) {
        const ssize_t n = ::read(fd, text + size, sizeof text - 1 - size_t(size));
        if (n <= 0)
            break;
        size += n;
    }
    ::close(fd);
    text[size] = '\0';
    const char* line = std::strstr(text, "VmData:");
    return line ? std::strtoll(line + 7, nullptr, 10) * 1024 : -1;
}

void limitMemory(qint64 bytes) {
    const qint64 current = dataSegmentBytes();
    if (current < 0)
        return;
    const rlimit limit{rlim_t(current + bytes), rlim_t(current + bytes)};
    ::setrlimit(RLIMIT_DATA, &limit);
}

// Everything the parent had open stays open in a forked child: the instance lock above all,
// which a child outliving its parent would keep from every later start. Only the pipe to the
// parent and the standard error stay; the standard input and output become /dev/null, since a
// pipe there would keep whoever reads the parent's output waiting for the child too.
void closeInheritedDescriptors(int out) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
    }
    const unsigned keep = unsigned(out);
    if (keep > 3 && ::close_range(3, keep - 1, 0) != 0 && errno == ENOSYS) {
        for (int fd = 3; fd < out; ++fd)
            ::close(fd);
    }
    if (::close_range(keep + 1, ~0U, 0) != 0 && errno == ENOSYS) {
        rlimit open{};
        const int last = ::getrlimit(RLIMIT_NOFILE, &open) == 0 && open.rlim_cur != RLIM_INFINITY
                             ? int(std::min<rlim_t>(open.rlim_cur, 1 << 20))
                             : 65536;
        for (int fd = out + 1; fd < last; ++fd)
            ::close(fd);
    }
}

// The child must not outlive the parent (it waits for nobody then), nor spin on a core for
// longer than allowed, whatever happens to the parent's deadline. The death signal follows the
// thread that forked, which waits in run() until the child has ended.
bool bindToParent(pid_t parent, const BoundedChildLimits& limits) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return false;
    // The parent may have gone before the signal was armed.
    if (::getppid() != parent)
        return false;
    // Past its processor time the child gets SIGXCPU, which would write a core file.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlim_t seconds = limits.cpuTime.count() > 0
                               ? rlim_t(limits.cpuTime.count())
                               : rlim_t(std::max<qint64>(1, (limits.deadline.count() + 999) / 1000)) + 1;
    const rlimit cpu{seconds, seconds + 1};
    return ::setrlimit(RLIMIT_CPU, &cpu) == 0;
}

[[noreturn]] void runChild(pid_t parent, int out, const BoundedChildProcess::Work& work,
                           const BoundedChildLimits& limits) {
    // The handlers inherited from the parent would pass a Ctrl+C, a hang-up or a logout on to its
    // signal pipe as if the parent had got it, and keep the child working.
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    closeInheritedDescriptors(out);
    // Nothing but the standard three lies below it now.
    if (out != BoundedChildProcess::kAnswerDescriptor) {
        if (::dup2(out, BoundedChildProcess::kAnswerDescriptor) < 0)
            ::_exit(1);
        ::close(out);
    }
    if (!bindToParent(parent, limits))
        ::_exit(1);
    limitMemory(limits.memoryBytes);
    BoundedChildAnswer answer;
    work(answer);
    // No exit handlers: they belong to the parent.
    ::_exit(BoundedChildProcess::sendAnswer(answer) ? 0 : 1);
}

enum class Wait { Ready, Stopped, Failed };

// Reads exactly `size` bytes before the deadline, unless stopped.
Wait readAll(int fd, char* data, size_t size, std::chrono::steady_clock::time_point deadline,
             const std::function<bool()>& stop) {
    bool stopped = false;
    const auto readable = [&] {
        for (;;) {
            if (stop && stop()) {
                stopped = true;
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, int(std::min<qint64>(left.count(), kStopLookMs)));
            if (polled > 0)
                return true;
            if (polled < 0 && errno != EINTR)
                return false;
        }
    };
    if (transferAll(
            data, size, [fd](char* bytes, size_t length) { return ::read(fd, bytes, length); }, readable))
        return Wait::Ready;
    return stopped ? Wait::Stopped : Wait::Failed;
}

} // namespace

bool BoundedChildProcess::writeAll(int fd, const char* data, size_t size) {
    return transferAll(
        data, size, [fd](const char* bytes, size_t length) { return ::write(fd, bytes, length); },
        [] { return true; });
}

bool BoundedChildProcess::sendAnswer(const BoundedChildAnswer& answer) {
    const bool picture =
        !answer.image.isNull() && answer.image.format() == QImage::Format_ARGB32_Premultiplied;
    const Header header{answer.code, answer.size.width(), answer.size.height(),
                        picture ? answer.image.width() : 0, picture ? answer.image.height() : 0};
    bool sent = writeAll(kAnswerDescriptor, reinterpret_cast<const char*>(&header), sizeof header);
    for (int y = 0; sent && y < header.imageHeight; ++y)
        sent = writeAll(kAnswerDescriptor, reinterpret_cast<const char*>(answer.image.constScanLine(y)),
                        size_t(header.imageWidth) * 4);
    return sent;
}

Result<BoundedChildAnswer> BoundedChildProcess::run(const Work& work, int maxSide,
                                                    const BoundedChildLimits& limits,
                                                    const std::function<bool()>& stop) {
    if (stop && stop())
        return Error::fromErrno(ECANCELED);
    const auto deadline = std::chrono::steady_clock::now() + limits.deadline;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return Error::fromErrno(errno);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return Error::fromErrno(err);
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(parent, fds[1], work, limits);
    }
    ::close(fds[1]);
    Header header;
    BoundedChildAnswer answer;
    Wait wait = readAll(fds[0], reinterpret_cast<char*>(&header), sizeof header, deadline, stop);
    if (wait == Wait::Ready) {
        answer.code = header.code;
        answer.size = QSize(header.width, header.height);
        if (header.imageWidth != 0 || header.imageHeight != 0) {
            const bool plausible = header.imageWidth >= 1 && header.imageHeight >= 1 &&
                                   header.imageWidth <= maxSide && header.imageHeight <= maxSide;
            if (plausible)
                answer.image =
                    QImage(header.imageWidth, header.imageHeight, QImage::Format_ARGB32_Premultiplied);
            if (answer.image.isNull())
                wait = Wait::Failed;
            for (int y = 0; wait == Wait::Ready && y < header.imageHeight; ++y)
                wait = readAll(fds[0], reinterpret_cast<char*>(answer.image.scanLine(y)),
                               size_t(header.imageWidth) * 4, deadline, stop);
        }
    }
    ::close(fds[0]);
    // Past the deadline, stopped or done: either way the child goes now and is reaped.
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    switch (wait) {
    case Wait::Ready:
        return answer;
    case Wait::Stopped:
        return Error::fromErrno(ECANCELED);
    case Wait::Failed:
        break;
    }
    return childFailed();
}

} // namespace vennimo
