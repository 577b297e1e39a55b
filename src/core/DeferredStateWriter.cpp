#include "core/DeferredStateWriter.h"

#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>

namespace vennimo {

DeferredStateWriter::DeferredStateWriter(Options options)
    : m_debounceDelay(options.debounceDelay)
    , m_fileWriter(options.fileWriter ? std::move(options.fileWriter)
                                      : FileWriter(&DeferredStateWriter::write))
    , m_queue(QString::fromLatin1(kQueueLabel)) {}

DeferredStateWriter::~DeferredStateWriter() {
    m_queue.sync([this] {
        ++m_token;
        if (!runPending().ok())
            qCWarning(lcApp, "a deferred state write failed while its owner went away");
    });
}

Status DeferredStateWriter::immediate(const Operation& operation) {
    ++m_shared->revision;
    Status status;
    m_queue.sync([&] {
        ++m_token;
        status = operation();
        if (status.ok()) {
            ++m_writeCount;
            m_pending = nullptr;
        }
    });
    if (status.ok())
        m_shared->needsSave = false;
    return status;
}

void DeferredStateWriter::start(Operation operation) {
    m_shared->needsSave = true;
    const std::uint64_t revision = ++m_shared->revision;
    const std::uint64_t sequence = ++m_startSequence;
    m_queue.async([this, operation = std::move(operation), revision, sequence]() mutable {
        ++m_token;
        m_pending = std::move(operation);
        // A newer start waits behind this one and writes a later state; its report is the one
        // the owner still listens for.
        if (sequence != m_startSequence.load())
            return;
        report(runPending(), revision);
    });
}

void DeferredStateWriter::schedule(Operation operation) {
    m_shared->needsSave = true;
    const std::uint64_t revision = ++m_shared->revision;
    m_queue.async([this, operation = std::move(operation), revision]() mutable {
        const std::uint64_t token = ++m_token;
        m_pending = std::move(operation);
        m_queue.asyncAfter(m_debounceDelay, [this, token, revision] { timerFired(token, revision); });
    });
}

Status DeferredStateWriter::flush() {
    ++m_shared->revision;
    Status status;
    m_queue.sync([&] {
        ++m_token;
        status = runPending();
    });
    if (status.ok())
        m_shared->needsSave = false;
    return status;
}

void DeferredStateWriter::discardPending() {
    ++m_shared->revision;
    m_queue.sync([this] {
        m_pending = nullptr;
        ++m_token;
    });
    m_shared->needsSave = false;
}

Status DeferredStateWriter::runPending() {
    if (!m_pending)
        return {};
    Signpost signpost(kSignpostName);
    Status status = m_pending();
    if (status.ok()) {
        ++m_writeCount;
        m_pending = nullptr;
    }
    return status;
}

void DeferredStateWriter::timerFired(std::uint64_t token, std::uint64_t revision) {
    // A later request, write, flush or discard has taken over this timer.
    if (token != m_token)
        return;
    report(runPending(), revision);
}

void DeferredStateWriter::report(const Status& status, std::uint64_t revision) {
    std::optional<Error> error;
    if (!status.ok())
        error = status.error();
    postToMain([weak = std::weak_ptr<Shared>(m_shared), revision, error] {
        const std::shared_ptr<Shared> shared = weak.lock();
        if (!shared || shared->revision != revision)
            return;
        if (!error)
            shared->needsSave = false;
        // A copy: the callback may replace itself or drop the writer.
        if (const ResultCallback callback = shared->onResult)
            callback(error);
    });
}

Status DeferredStateWriter::write(const QJsonObject& value, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), ec);
    if (ec)
        return Error::fromErrno(ec.value(), folder);
    return JsonFile::write(path, value);
}

Result<QByteArray> DeferredStateWriter::readStateFile(const QString& path, qint64 maxBytes) {
    auto file = FileIdentity::readFollowingLinks(path);
    if (!file)
        return file.error();
    // Opening a FIFO or a device for reading could block or never end.
    if (file->type == FileType::Directory)
        return Error::fromErrno(EISDIR, path);
    if (file->type != FileType::Regular)
        return Error::fromErrno(EINVAL, path);
    if (file->size > maxBytes)
        return Error::fromErrno(EFBIG, path);
    return JsonFile::readBytes(path);
}

Result<std::optional<QJsonObject>> DeferredStateWriter::readStateObject(const QString& path) {
    auto bytes = readStateFile(path);
    if (!bytes) {
        if (bytes.error().sysErrno == ENOENT)
            return std::optional<QJsonObject>();
        return bytes.error();
    }
    auto object = JsonFile::parse(*bytes);
    if (!object)
        return object.error();
    return std::optional<QJsonObject>(std::move(object).value());
}

} // namespace vennimo
