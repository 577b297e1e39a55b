#include "core/Indexer.h"

#include "core/DeferredStateWriter.h"
#include "core/IndexFileWriter.h"
#include "platform/DurableCalls.h"
#include "platform/Logging.h"

#include <QFile>

#include <cerrno>

namespace vennimo {

namespace {

const QString kIndexSaveFailedPrefix = QStringLiteral("索引保存失败：");

} // namespace

std::optional<QByteArray> Indexer::readStateOrSetAside(const QString& path) {
    auto bytes = DeferredStateWriter::readStateFile(path, kMaxIndexBytes);
    if (bytes)
        return std::move(bytes).value();
    if (bytes.error().sysErrno != ENOENT) {
        // The next save would replace it: keep it beside, as it is, for inspection.
        qCWarning(lcApp) << path << "cannot be read:" << bytes.error().message << "- kept as .corrupt";
        const QByteArray from = QFile::encodeName(path);
        if (DurableCalls::current().rename(from.constData(), (from + ".corrupt").constData()) != 0)
            qCWarning(lcApp) << path << "could not be set aside";
    }
    return std::nullopt;
}

QString Indexer::indexPath() const {
    return m_storage + QStringLiteral("/index.json");
}

QString Indexer::thumbnailFailuresPath() const {
    return m_storage + QStringLiteral("/thumbnail-failures.json");
}

QString Indexer::thumbnailFolder() const {
    return m_storage + QStringLiteral("/thumbnails");
}

void Indexer::saveLibrary() {
    m_indexWriter->schedule(m_library);
    takeIndexWriteOutcome();
}

bool Indexer::libraryNeedsSave() const {
    return m_indexWriter->owed();
}

void Indexer::flushIndex() {
    (void)m_indexWriter->flush();
    takeIndexWriteOutcome();
}

void Indexer::setIndexWriteInterval(std::chrono::milliseconds interval) {
    m_indexWriter->setInterval(interval);
}

// A write that failed in the background shows in `errors` from the next scan or flush on.
void Indexer::takeIndexWriteOutcome() {
    const std::optional<Error> error = m_indexWriter->lastError();
    m_indexSaveError =
        error ? std::optional<QString>(kIndexSaveFailedPrefix + error->localizedDescription()) : std::nullopt;
    updateErrors();
}

} // namespace vennimo
