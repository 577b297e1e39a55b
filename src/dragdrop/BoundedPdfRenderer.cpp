#include "dragdrop/BoundedPdfRenderer.h"

#include <QPainter>

#include <poppler-qt6.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
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

// What the child reports before the pixels.
enum class Outcome : qint32 { Rendered, NotADocument, InvalidSize, RenderFailed };

struct Header {
    Outcome outcome = Outcome::RenderFailed;
    qint32 width = 0;
    qint32 height = 0;
};

Error notImageError() {
    return Error::failure(QStringLiteral("来源提供的内容不是可读取的图片。"));
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

bool writeAll(int fd, const char* data, size_t size) {
    return transferAll(
        data, size, [fd](const char* bytes, size_t length) { return ::write(fd, bytes, length); },
        [] { return true; });
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

Header renderPage(const QByteArray& pdf, double maxScale, double maxSidePixels, QImage& image) {
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked() || document->numPages() != 1)
        return {Outcome::NotADocument};
    std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page)
        return {Outcome::NotADocument};
    const QSizeF box = page->pageSizeF();
    const double scale = std::min(maxScale, maxSidePixels / std::max(box.width(), box.height()));
    if (!(box.width() > 0) || !(box.height() > 0) || !std::isfinite(scale) || !(scale > 0))
        return {Outcome::InvalidSize};
    const int width = std::max(1, int(std::ceil(box.width() * scale)));
    const int height = std::max(1, int(std::ceil(box.height() * scale)));
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    // No paper behind the page: what the document leaves transparent stays so.
    document->setRenderHint(Poppler::Document::IgnorePaperColor);
    const QImage rendered = page->renderToImage(72.0 * scale, 72.0 * scale, 0, 0, width, height);
    if (rendered.isNull())
        return {Outcome::RenderFailed};
    image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {Outcome::RenderFailed};
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, rendered);
    }
    return {Outcome::Rendered, width, height};
}

// Everything the parent had open stays open in a forked child: the instance lock above all,
// which a render outliving its parent would keep from every later start. Only the pipe to the
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
// longer than the parent would have waited, whatever happens to the parent's deadline. The death
// signal follows the thread that forked, which waits in render() until the child has ended.
bool bindToParent(pid_t parent, std::chrono::milliseconds deadline) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return false;
    // The parent may have gone before the signal was armed.
    if (::getppid() != parent)
        return false;
    const rlim_t seconds = rlim_t(std::max<qint64>(1, (deadline.count() + 999) / 1000)) + 1;
    const rlimit cpu{seconds, seconds + 1};
    return ::setrlimit(RLIMIT_CPU, &cpu) == 0;
}

[[noreturn]] void runChild(pid_t parent, int out, const QByteArray& pdf, double maxScale,
                           double maxSidePixels, const PdfRenderLimits& limits) {
    // The handlers inherited from the parent would pass a Ctrl+C or a logout on to its signal
    // pipe as if the parent had got it, and keep the child rendering.
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    closeInheritedDescriptors(out);
    if (!bindToParent(parent, limits.deadline))
        ::_exit(1);
    limitMemory(limits.memoryBytes);
    QImage image;
    const Header header = renderPage(pdf, maxScale, maxSidePixels, image);
    bool sent = writeAll(out, reinterpret_cast<const char*>(&header), sizeof header);
    for (int y = 0; sent && header.outcome == Outcome::Rendered && y < header.height; ++y)
        sent = writeAll(out, reinterpret_cast<const char*>(image.constScanLine(y)), size_t(header.width) * 4);
    // No exit handlers: they belong to the parent.
    ::_exit(sent ? 0 : 1);
}

// Reads exactly `size` bytes before the deadline.
bool readAll(int fd, char* data, size_t size, std::chrono::steady_clock::time_point deadline) {
    const auto readable = [fd, deadline] {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, int(std::min<qint64>(left.count(), 1000)));
            if (polled > 0)
                return true;
            if (polled < 0 && errno != EINTR)
                return false;
        }
    };
    return transferAll(
        data, size, [fd](char* bytes, size_t length) { return ::read(fd, bytes, length); }, readable);
}

} // namespace

Result<QImage> BoundedPdfRenderer::render(const QByteArray& pdf, double maxScale, double maxSidePixels,
                                          const Limits& limits) {
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
        runChild(parent, fds[1], pdf, maxScale, maxSidePixels, limits);
    }
    ::close(fds[1]);
    Header header;
    QImage image;
    bool complete = readAll(fds[0], reinterpret_cast<char*>(&header), sizeof header, deadline);
    if (complete && header.outcome == Outcome::Rendered) {
        const bool plausible = header.width >= 1 && header.height >= 1 &&
                               header.width <= int(std::ceil(maxSidePixels)) &&
                               header.height <= int(std::ceil(maxSidePixels));
        if (plausible)
            image = QImage(header.width, header.height, QImage::Format_ARGB32_Premultiplied);
        complete = !image.isNull();
        for (int y = 0; complete && y < header.height; ++y)
            complete = readAll(fds[0], reinterpret_cast<char*>(image.scanLine(y)), size_t(header.width) * 4,
                               deadline);
    }
    ::close(fds[0]);
    // Past the deadline, or done: either way the child goes now and is reaped.
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete)
        return notImageError();
    switch (header.outcome) {
    case Outcome::Rendered:
        return image;
    case Outcome::InvalidSize:
        return Error::failure(QStringLiteral("文档中的图片尺寸无效。"));
    case Outcome::RenderFailed:
        return Error::failure(QStringLiteral("无法转换文档图片。"));
    case Outcome::NotADocument:
        break;
    }
    return notImageError();
}

} // namespace vennimo
