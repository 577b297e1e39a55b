#include "core/IndexFileWriter.h"

#include "core/LibraryEncoding.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"

#include <algorithm>

namespace vennimo {

IndexFileWriter::IndexFileWriter(QString path, std::optional<QByteArray> lastSaved)
    : m_path(std::move(path))
    , m_lastSaved(std::move(lastSaved))
    , m_queue(QStringLiteral("local.vennimo.index-write")) {}

IndexFileWriter::~IndexFileWriter() {
    if (!flush().ok())
        qCWarning(lcApp) << "index.json could not be written while the index went away";
}

void IndexFileWriter::schedule(Library library) {
    std::lock_guard lock(m_mutex);
    m_owed = std::move(library);
    if (m_armed)
        return;
    m_armed = true;
    const auto now = std::chrono::steady_clock::now();
    const auto due = m_lastWrite + m_interval;
    const auto delay = std::max(std::chrono::milliseconds(kSettleDelay),
                                due > now ? std::chrono::ceil<std::chrono::milliseconds>(due - now)
                                          : std::chrono::milliseconds(0));
    m_queue.asyncAfter(delay, [this] { (void)writeOwed(); });
}

Status IndexFileWriter::flush() {
    Status status;
    m_queue.sync([&] { status = writeOwed(); });
    return status;
}

bool IndexFileWriter::owed() const {
    std::lock_guard lock(m_mutex);
    return m_owed.has_value() || m_writing;
}

std::optional<Error> IndexFileWriter::lastError() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

int IndexFileWriter::writeCount() const {
    std::lock_guard lock(m_mutex);
    return m_writeCount;
}

void IndexFileWriter::setInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(m_mutex);
    m_interval = interval;
    // A new interval counts from when it is set, not from the clock's zero, which lies at boot:
    // how long the machine has been up must not decide whether the next write waits.
    m_lastWrite = std::chrono::steady_clock::now();
}

Status IndexFileWriter::writeOwed() {
    Library library;
    {
        std::lock_guard lock(m_mutex);
        m_armed = false;
        if (!m_owed)
            return m_error ? Status(*m_error) : Status();
        library = std::move(*m_owed);
        m_owed.reset();
        m_writing = true;
    }
    const QByteArray bytes = encodeLibrary(library);
    Status status;
    bool wrote = false;
    if (!m_lastSaved || bytes != *m_lastSaved) {
        status = JsonFile::writeAtomically(m_path, bytes);
        wrote = status.ok();
        if (wrote)
            m_lastSaved = bytes;
    }
    std::lock_guard lock(m_mutex);
    m_writing = false;
    m_lastWrite = std::chrono::steady_clock::now();
    if (wrote)
        ++m_writeCount;
    if (status.ok()) {
        m_error.reset();
    } else {
        m_error = status.error();
        // Owed until a later write succeeds; a newer library scheduled meanwhile supersedes it.
        if (!m_owed)
            m_owed = std::move(library);
    }
    return status;
}

} // namespace vennimo
