#include "model/GalleryModel.h"

#include "core/ExhibitionJournal.h"
#include "platform/LeftoverTemporaries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace vennimo {

namespace {

constexpr auto kDropFailedPrefix = "未能挂上图片：";
constexpr auto kDropGaveNothing = "来源应用没有提供可读取的图片。";
constexpr auto kImportFailedPrefix = "未能挂上照片：";
constexpr auto kNothingPrepared = "未能挂上：请拖入可读取的照片文件。";
// Lists of the files imports and copies are creating, for the next start to clear.
constexpr auto kImportRecordFolder = "pending-imports";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Where a file really lies, so that a link or a second spelling of a path matches its item.
QString realPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? standardizedPath(path) : canonical;
}

// Thumbnails the drop drew while checking its files are written as they are; the rest are drawn
// the index's way, and `leaveOut` stops reading a file it gives up. A renderer of the index's own
// is always used.
ExhibitionStore::ThumbnailMaker thumbnailMaker(const Indexer& indexer, const QHash<QString, QImage>& drawn,
                                               const std::function<bool(const QString&)>& leaveOut) {
    ExhibitionStore::ThumbnailMaker fallback = ExhibitionStore::thumbnailMaker(indexer, leaveOut);
    if (drawn.isEmpty() || indexer.thumbnailRenderer())
        return fallback;
    return [drawn, fallback](const QString& source, const QString& target) {
        const auto picture = drawn.constFind(standardizedPath(source));
        if (picture == drawn.constEnd() || !Indexer::save(*picture, target))
            fallback(source, target);
    };
}

} // namespace

void GalleryModel::importStep(ExhibitionImportStep step) const {
    if (m_options.importStepHook)
        m_options.importStepHook(step);
}

void GalleryModel::importExhibitionDrop(const ExternalImageDrop::Snapshot& snapshot, double x,
                                        ImportCompletion completion) {
    if (isBusy()) {
        if (completion)
            completion(false);
        return;
    }
    // A drop was taken: one that brought nothing says so rather than nothing at all.
    if (snapshot.isEmpty()) {
        publish(m_actionError, std::optional<QString>(text(kDropFailedPrefix) + text(kDropGaveNothing)),
                &GalleryModel::actionErrorChanged);
        if (completion)
            completion(false);
        return;
    }
    setImporting(true);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    const auto record = importRecord();
    if (!record) {
        setImporting(false);
        publish(m_actionError,
                std::optional<QString>(text(kDropFailedPrefix) + record.error().localizedDescription()),
                &GalleryModel::actionErrorChanged);
        if (completion)
            completion(false);
        return;
    }
    const QPointer<GalleryModel> self(this);
    ExternalImageDrop::ImportOptions options = m_options.dropImport;
    if (!m_indexer->thumbnailRenderer())
        options.thumbnailPixels = Indexer::kMaxThumbnailPixels;
    m_dropCancellation = std::make_shared<std::atomic<bool>>(false);
    options.cancelled = m_dropCancellation;
    m_queue->async([self, snapshot, x, completion = std::move(completion), storage = m_indexer->storage(),
                    options, hook = m_options.importStepHook, record = *record] {
        const ExternalImageDrop::Result result =
            ExternalImageDrop::materialize(snapshot, storage, options, record.get());
        if (hook)
            hook(ExhibitionImportStep::FilesSaved);
        postTo(self.data(), [self, result, x, completion] {
            if (result.paths.isEmpty()) {
                self->m_dropCancellation.reset();
                self->endImportRecord(false);
                self->setImporting(false);
                self->publish(self->m_actionError,
                              std::optional<QString>(text(kDropFailedPrefix) +
                                                     result.detail.value_or(text(kDropGaveNothing))),
                              &GalleryModel::actionErrorChanged);
                if (completion)
                    completion(false);
                return;
            }
            QHash<QString, PhotosOrigin> origins;
            for (auto it = result.origins.cbegin(); it != result.origins.cend(); ++it)
                origins.insert(it.key(), it.value());
            // `importing` stays set between the two halves, so that no quit and no other action
            // slips in while the saved files wait for their commit. The cancel reaches the second
            // half too: most of a drop of camera pictures is drawing their thumbnails.
            self->runImport(
                result.paths, x, origins, false, result.thumbnails,
                [self, failures = result.failures, detail = result.detail, completion](bool ok) {
                    if (self)
                        self->m_dropCancellation.reset();
                    if (ok && failures > 0 && self)
                        self->publish(self->m_actionError,
                                      std::optional<QString>(QStringLiteral("已挂上可读取的图片，另有 ") +
                                                             QString::number(failures) +
                                                             QStringLiteral(" 项未能导入。") +
                                                             detail.value_or(QString())),
                                      &GalleryModel::actionErrorChanged);
                    if (completion)
                        completion(ok);
                },
                self->m_dropCancellation);
        });
    });
}

bool GalleryModel::cancelExhibitionDrop() {
    if (!m_dropCancellation)
        return false;
    m_dropCancellation->store(true);
    return true;
}

void GalleryModel::importExhibition(const QStringList& paths, double x,
                                    const QHash<QString, PhotosOrigin>& origins, bool requireAll,
                                    ImportCompletion completion) {
    if (isBusy()) {
        if (completion)
            completion(false);
        return;
    }
    setImporting(true);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    if (const auto record = importRecord(); !record)
        return failImport(record.error(), completion);
    runImport(paths, x, origins, requireAll, {}, std::move(completion));
}

void GalleryModel::runImport(const QStringList& paths, double x, const QHash<QString, PhotosOrigin>& origins,
                             bool requireAll, const QHash<QString, QImage>& thumbnails,
                             ImportCompletion completion, DropCancellation cancelled) {
    // The store changes on the main thread while the queue prepares: the queue reads a copy.
    const ExhibitionReferences existing = m_exhibition->references();
    const QPointer<GalleryModel> self(this);
    const Indexer* indexer = m_indexer.get();
    m_queue->async([self, indexer, existing, paths, x, origins, requireAll,
                    completion = std::move(completion), thumbnails, hook = m_options.importStepHook,
                    record = m_importRecord, cancelled] {
        // A cancelled drop begins no further picture where it lies; what it already saved into
        // the storage folder is its own and is hung.
        const QString saved = QDir::cleanPath(indexer->storage()) + QLatin1Char('/');
        const auto leaveOut =
            cancelled ? std::function<bool(const QString&)>([cancelled, saved](const QString& path) {
                return cancelled->load() && !path.startsWith(saved);
            })
                      : std::function<bool(const QString&)>();
        const QList<ExhibitionReference> prepared = ExhibitionStore::prepare(
            indexer->storage(), existing, paths, thumbnailMaker(*indexer, thumbnails, leaveOut), origins,
            record.get(), leaveOut);
        if (hook)
            hook(ExhibitionImportStep::ReferencesPrepared);
        postTo(self.data(), [self, prepared, paths, x, requireAll, completion] {
            self->commitImport(prepared, paths, x, requireAll, completion);
        });
    });
}

void GalleryModel::commitImport(const QList<ExhibitionReference>& prepared, const QStringList& paths,
                                double x, bool requireAll, const ImportCompletion& completion) {
    if (prepared.isEmpty() || (requireAll && prepared.size() < paths.size()))
        return failImport(ExhibitionStore::failure(text(kNothingPrepared)), completion);
    if (const auto refusal = journalWriteRefusal())
        return failImport(ExhibitionStore::failure(*refusal), completion);
    if (Status flushed = flushDeferredState(); !flushed)
        return failImport(flushed.error(), completion);
    if (Status saved = savePendingTrashTakeDown(); !saved)
        return failImport(saved.error(), completion);
    const Status committed =
        m_exhibition->commit(prepared, x, *m_lineHistory, *m_placements, [this](JournalStep step) {
            if (step == JournalStep::CommitJournalWritten)
                importStep(ExhibitionImportStep::JournalWritten);
            else if (step == JournalStep::StateFileWritten)
                importStep(ExhibitionImportStep::StateFileWritten);
        });
    if (!committed)
        return failImport(committed.error(), completion);
    importStep(ExhibitionImportStep::Committed);
    endImportRecord(true);

    reloadExhibitionStores();
    setPhotos(m_exhibition->merged(m_photos));
    QSet<QString> arrivals;
    for (const ExhibitionReference& reference : prepared)
        arrivals.insert(reference.photo.id);
    m_latestArrivalIDs = arrivals;
    publish(m_arrivalRevision, m_arrivalRevision + 1, &GalleryModel::arrivalRevisionChanged);

    QSet<QString> given;
    for (const QString& path : paths)
        given.insert(standardizedPath(path));
    const qsizetype missing = given.size() - prepared.size();
    publish(m_actionError,
            missing > 0
                ? std::optional<QString>(QStringLiteral("已挂上 ") + QString::number(prepared.size()) +
                                         QStringLiteral(" 张，") + QString::number(missing) +
                                         QStringLiteral(" 项无法读取或重复。"))
                : std::nullopt,
            &GalleryModel::actionErrorChanged);
    publish(m_placementError, std::optional<QString>(), &GalleryModel::placementErrorChanged);
    publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
    Q_EMIT modelChanged();
    setImporting(false);
    if (completion)
        completion(true);
}

void GalleryModel::failImport(const Error& error, const ImportCompletion& completion) {
    // A journal left behind holds a change that only the next start may apply: until then every
    // store stays as it is.
    m_exhibitionBlocked = ExhibitionJournal::exists(m_indexer->storage());
    publish(m_actionError,
            std::optional<QString>(m_exhibitionBlocked
                                       ? text(kExhibitionPendingText)
                                       : text(kImportFailedPrefix) + error.localizedDescription()),
            &GalleryModel::actionErrorChanged);
    endImportRecord(false);
    Q_EMIT modelChanged();
    setImporting(false);
    if (completion)
        completion(false);
}

void GalleryModel::reloadExhibitionStores() {
    const QString& storage = m_indexer->storage();
    m_exhibition = std::make_unique<ExhibitionStore>(storage);
    m_lineHistory = std::make_unique<UsageHistory>(storage, QString::fromLatin1(kLineHistoryFileName),
                                                   m_options.lineWriter);
    m_placements = std::make_unique<ClotheslinePlacementStore>(storage, m_options.placementsWriter);
    configureDeferredState();
}

std::optional<QString> GalleryModel::journalWriteRefusal() const {
    if (m_exhibitionBlocked)
        return m_exhibition->loadError() ? *m_exhibition->loadError()
                                         : ExhibitionJournal::pendingError().localizedDescription();
    if (ExhibitionJournal::exists(m_indexer->storage()))
        return ExhibitionJournal::pendingError().localizedDescription();
    return std::nullopt;
}

void GalleryModel::removeOrphanImports() {
    const QString& storage = m_indexer->storage();
    // A pending journal names files that no exhibition item names yet.
    if (m_exhibitionBlocked || m_exhibition->loadError() || ExhibitionJournal::exists(storage))
        return;
    QSet<QString> kept;
    for (const ExhibitionReference& reference : m_exhibition->references()) {
        kept.insert(realPath(reference.photo.path));
        kept.insert(realPath(reference.photo.thumbnail));
    }
    // Only what an import recorded before creating it may go: a file put back from the Trash, or
    // one whose exhibition item was lost with its state file, is the user's.
    LeftoverTemporaries::removeRecorded(
        storage + QLatin1Char('/') + QLatin1String(kImportRecordFolder),
        [&kept](const QString& path) { return kept.contains(realPath(path)); });
}

Result<std::shared_ptr<LeftoverTemporaries::Record>> GalleryModel::importRecord() {
    if (!m_importRecord) {
        auto opened = LeftoverTemporaries::Record::open(m_indexer->storage() + QLatin1Char('/') +
                                                        QLatin1String(kImportRecordFolder));
        if (!opened)
            return opened.error();
        m_importRecord = *opened;
    }
    return m_importRecord;
}

void GalleryModel::endImportRecord(bool committed) {
    const auto record = std::exchange(m_importRecord, nullptr);
    if (!record)
        return;
    if (committed) {
        record->finish();
        return;
    }
    record->close();
    removeOrphanImports();
}

} // namespace vennimo
