#pragma once

#include "platform/Result.h"
#include "platform/WorkQueue.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

using DeferredStateFileWriter = std::function<Status(const QJsonObject& value, const QString& path)>;

inline constexpr std::chrono::milliseconds kDeferredStateDebounceDelay{500};

struct DeferredStateWriterOptions {
    std::chrono::milliseconds debounceDelay = kDeferredStateDebounceDelay;
    // How the owner's state reaches the disk; DeferredStateWriter::write when empty. Tests put a
    // failing or counting writer here.
    DeferredStateFileWriter fileWriter{};
};

// Serialises the writes of one state file on its own queue: a write runs at once (the caller
// waits and sees the error) or debounced, after a quiet spell, with the result reported on the
// main thread. A write that fails is never dropped: it stays owed until a later write succeeds
// or the owner discards it.
//
// All members except the static ones are called from one thread, the owner's (the main thread
// in the application), never from a write operation.
class DeferredStateWriter {
public:
    using Operation = std::function<Status()>;
    using ResultCallback = std::function<void(const std::optional<Error>& error)>;
    using FileWriter = DeferredStateFileWriter;
    using Options = DeferredStateWriterOptions;

    static constexpr std::chrono::milliseconds kDebounceDelay = kDeferredStateDebounceDelay;
    static constexpr auto kQueueLabel = "local.vennimo.deferred-state";
    static constexpr auto kSignpostName = "DeferredStateWrite";

    explicit DeferredStateWriter(Options options = {});
    // Still writes what is owed, so dropping a store never loses its last change; the result is
    // no longer reported.
    ~DeferredStateWriter();
    DeferredStateWriter(const DeferredStateWriter&) = delete;
    DeferredStateWriter& operator=(const DeferredStateWriter&) = delete;

    // Runs the operation now on the writer's queue and waits for it. On success it stands for
    // any debounced write still owed.
    Status immediate(const Operation& operation);
    // Runs the operation on the writer's queue as soon as it is free while the caller goes on;
    // the outcome reaches onResult as a debounced write's does, and a failure stays owed. Of
    // several started before the queue gets to them, only the newest runs.
    void start(Operation operation);
    // Holds the operation and runs it once no newer request came for the debounce delay.
    void schedule(Operation operation);
    // Runs the owed write, if any, now.
    Status flush();
    void discardPending();

    const ResultCallback& onResult() const { return m_shared->onResult; }
    void setOnResult(ResultCallback callback) { m_shared->onResult = std::move(callback); }
    // From a debounced request until that state is known to be on disk or discarded.
    bool needsSave() const { return m_shared->needsSave; }
    // Successful writes, debounced or immediate.
    int writeCount() const { return m_writeCount.load(); }

    const QString& label() const { return m_queue.label(); }
    std::chrono::milliseconds debounceDelay() const { return m_debounceDelay; }
    // The file writer the owner's write operations go through; safe to copy onto any thread.
    const FileWriter& fileWriter() const { return m_fileWriter; }

    // The one routine that turns a state into a file: creates the folder that holds it, then
    // writes compact JSON with sorted keys atomically.
    static Status write(const QJsonObject& value, const QString& path);
    // Reads a state file whole. A missing file keeps its errno (ENOENT); anything but a regular
    // file, or one larger than any state the system writes, is refused before it is opened.
    static Result<QByteArray> readStateFile(const QString& path, qint64 maxBytes = kMaxStateFileBytes);
    static constexpr qint64 kMaxStateFileBytes = 256LL * 1024 * 1024;
    // The JSON object of a state file; nothing when the file does not exist yet.
    static Result<std::optional<QJsonObject>> readStateObject(const QString& path);

private:
    // What lives on the owner's thread; debounced results reach it only while it exists.
    struct Shared {
        std::uint64_t revision = 0;
        bool needsSave = false;
        ResultCallback onResult{};
    };

    // On the queue only.
    Status runPending();
    void timerFired(std::uint64_t token, std::uint64_t revision);
    void report(const Status& status, std::uint64_t revision);

    const std::chrono::milliseconds m_debounceDelay;
    const FileWriter m_fileWriter;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::atomic<int> m_writeCount{0};
    std::atomic<std::uint64_t> m_startSequence{0};
    // Queue side.
    Operation m_pending{};
    std::uint64_t m_token = 0;
    // Last, so that it stops before the state its tasks use goes away.
    SerialQueue m_queue;
};

} // namespace vennimo
