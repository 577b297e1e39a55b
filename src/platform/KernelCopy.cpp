#include "platform/KernelCopy.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <sys/sendfile.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

bool kernelCannotCopy(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

Result<qint64> KernelCopy::copy(int in, int out, qint64 limit, const QString& path) {
    enum class Way { Range, Send, Plain } way = Way::Range;
    QByteArray chunk;
    qint64 total = 0;
    while (total < limit) {
        const size_t wanted = size_t(std::min<qint64>(limit - total, 1 << 30));
        ssize_t n = 0;
        if (way == Way::Range)
            n = ::copy_file_range(in, nullptr, out, nullptr, wanted, 0);
        else if (way == Way::Send)
            n = ::sendfile(out, in, nullptr, wanted);
        else {
            if (chunk.isEmpty())
                chunk.resize(kChunkBytes);
            n = ::read(in, chunk.data(), std::min(wanted, size_t(kChunkBytes)));
            for (ssize_t put = 0; n > 0 && put < n;) {
                const ssize_t m = ::write(out, chunk.constData() + put, size_t(n - put));
                if (m < 0 && errno == EINTR)
                    continue;
                if (m <= 0)
                    return Error::fromErrno(m < 0 ? errno : EIO, path);
                put += m;
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Nothing has moved yet when a way is refused outright, so the next one starts clean.
            if (total == 0 && way != Way::Plain && kernelCannotCopy(errno)) {
                way = way == Way::Range ? Way::Send : Way::Plain;
                continue;
            }
            return Error::fromErrno(errno, path);
        }
        if (n == 0)
            break;
        total += n;
    }
    return total;
}

} // namespace vennimo
