#include "support/DurableCallLog.h"

#include "platform/DurableCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo::test {

DurableCallLog::DurableCallLog(QString failing)
    : m_failing(std::move(failing)) {
    const DurableCalls system = DurableCalls::current();
    DurableCalls::set({
        [this, system](int fd) {
            struct stat st {};
            const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
            const QString call = folder ? QStringLiteral("folder fsync") : QStringLiteral("file fsync");
            return note(call, call == m_failing ? -1 : system.fsync(fd));
        },
        [this, system](const char* from, const char* to) {
            return note(QStringLiteral("rename"), m_failing == u"rename" ? -1 : system.rename(from, to));
        },
        [this, system](int fromFolder, const char* from, int toFolder, const char* to) {
            return note(QStringLiteral("rename no-replace"),
                        m_failing == u"rename no-replace"
                            ? -1
                            : system.renameNoReplace(fromFolder, from, toFolder, to));
        },
        [this, system](int fromFolder, const char* from, int toFolder, const char* to) {
            return note(QStringLiteral("link"),
                        m_failing == u"link" ? -1 : system.link(fromFolder, from, toFolder, to));
        },
    });
}

DurableCallLog::~DurableCallLog() {
    DurableCalls::set({});
}

int DurableCallLog::note(const QString& call, int result) {
    const int error = errno;
    {
        const std::lock_guard lock(m_mutex);
        m_calls << call;
    }
    // A failure planted here reads as an I/O error; a real one keeps its own.
    errno = call == m_failing ? EIO : error;
    return result;
}

QStringList DurableCallLog::calls() const {
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

} // namespace vennimo::test
