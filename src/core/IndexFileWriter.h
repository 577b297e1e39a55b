#pragma once

#include "core/Photo.h"
#include "platform/Result.h"
#include "platform/WorkQueue.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

namespace vennimo {

// Writes "index.json" off the path of the scans: a large library takes long to encode and write,
// and an arrival must not wait for it. The newest library is encoded and written on a queue of
// its own, at most once per interval; what is owed is written at the latest when the writer goes
// away. A failed write stays owed until a later one succeeds. Bytes equal to the last ones read
// or written are never written again.
class IndexFileWriter {
public:
    static constexpr std::chrono::milliseconds kWriteInterval{1000};
    // Even after a quiet spell a write waits this long, so that it does not compete with showing
    // what the scan found.
    static constexpr std::chrono::milliseconds kSettleDelay{250};

    // `lastSaved`: the bytes the file holds now, when known.
    IndexFileWriter(QString path, std::optional<QByteArray> lastSaved);
    ~IndexFileWriter();
    IndexFileWriter(const IndexFileWriter&) = delete;
    IndexFileWriter& operator=(const IndexFileWriter&) = delete;

    // Returns at once; the library is written after the settling delay, once the interval since
    // the last write has passed.
    void schedule(Library library);
    // Writes what is owed now and waits for it.
    Status flush();
    // Scheduled, being written or failed, and not yet on disk.
    bool owed() const;
    // The error of the last write, until a write succeeds.
    std::optional<Error> lastError() const;
    int writeCount() const;
    // The next write waits a whole interval from now.
    void setInterval(std::chrono::milliseconds interval);

private:
    // On the queue only.
    Status writeOwed();

    const QString m_path;
    mutable std::mutex m_mutex;
    std::optional<Library> m_owed;
    bool m_writing = false;
    bool m_armed = false;
    std::optional<Error> m_error;
    int m_writeCount = 0;
    std::chrono::milliseconds m_interval = kWriteInterval;
    std::chrono::steady_clock::time_point m_lastWrite{};
    // Queue side.
    std::optional<QByteArray> m_lastSaved;
    // Last, so that it stops before the state its tasks use goes away.
    SerialQueue m_queue;
};

} // namespace vennimo
