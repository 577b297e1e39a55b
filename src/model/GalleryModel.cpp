#include "model/GalleryModel.h"
#include "model/PhotoListChanges.h"
#include "platform/FileMove.h"

#include <QPointer>

#include <algorithm>
#include <utility>

namespace vennimo {

namespace {

// Where copies across file systems list their partials while this model runs.
constexpr auto kPartialCopyRecordFolder = "pending-copies";

QString partialCopyRecords(const QString& storage) {
    return storage + QLatin1Char('/') + QLatin1String(kPartialCopyRecordFolder);
}

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QSet<QString> idsOf(const QList<Photo>& photos) {
    QSet<QString> ids;
    ids.reserve(photos.size());
    for (const Photo& photo : photos)
        ids.insert(photo.id);
    return ids;
}

} // namespace

GalleryModel::GalleryModel(std::unique_ptr<Indexer> indexer, bool establishBaseline, Options options,
                           QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    m_chrome = std::make_unique<ClotheslineChrome>();
    m_queue = std::make_unique<SerialQueue>(QString::fromLatin1(kQueueLabel));
    m_watcherBuildQueue = std::make_unique<WorkQueue>(QStringLiteral("local.vennimo.watcher-build"));
    installTrashDefaults();
    m_requestPhotoCopyConfirmation = [](const QList<Photo>&) { return true; };
    installPegMoveSeams();
    installCopySeams();

    // The journal goes first: every store must load what it left behind.
    const QString storage = indexer->storage();
    // Before the journal, whose peg returns may copy: partials a killed copy left go first.
    FileMove::removeRecordedPartials(partialCopyRecords(storage));
    FileMove::setPartialRecordFolder(partialCopyRecords(storage));
    QStringList recoveryMessages;
    std::optional<QString> recoveryError;
    auto recovered = ExhibitionStore::recover(storage);
    if (recovered)
        recoveryMessages = *recovered;
    else
        recoveryError = text(kRecoveryFailedPrefix) + recovered.error().localizedDescription();

    m_establishBaseline = establishBaseline;
    m_indexer = std::move(indexer);
    m_configuredRoots = m_indexer->roots();
    m_interactions = std::make_unique<UsageHistory>(
        storage, QString::fromLatin1(kInteractionsHistoryFileName), m_options.interactionsWriter);
    reloadExhibitionStores();
    m_photos = m_exhibition->merged(m_indexer->library().photos);
    m_lineError = m_lineHistory->loadError();
    if (recoveryError)
        m_placementError = recoveryError;
    else if (m_exhibition->loadError())
        m_placementError = m_exhibition->loadError();
    else
        m_placementError = m_placements->loadError();
    m_exhibitionBlocked = recoveryError.has_value() || m_exhibition->loadError().has_value();
    if (!recoveryMessages.isEmpty())
        m_actionError = recoveryMessages.join(u'\n');
    // What an import interrupted before its commit saved is no exhibition item: it goes.
    if (!m_exhibitionBlocked)
        removeOrphanImports();
    m_interactions->prepareIdentities(m_photos);
    m_lineHistory->prepareIdentities(m_photos);
    if (m_establishBaseline && m_indexer->library().initialized)
        observeArrivals(m_photos);
}

GalleryModel::~GalleryModel() {
    // A scan under way, however large, ends at its next folder and keeps nothing of what it
    // found, while the rest goes; the queued thumbnails are not made.
    m_indexer->stop();
    if (FileMove::partialRecordFolder() == partialCopyRecords(m_indexer->storage()))
        FileMove::setPartialRecordFolder({});
    if (m_timer != nullptr)
        m_timer->stop();
    m_propertiesQueue.reset();
    m_watcher.reset();
    m_watcherBuildQueue.reset();
    // The stopped scan ends first; its result no longer reaches anyone. The indexer goes on its
    // own queue, where its thumbnail completions run, so none of them races its teardown.
    m_queue->cancelAll();
    m_queue->sync([this] { m_indexer.reset(); });
    m_queue.reset();
}

void GalleryModel::configureDeferredState() {
    const QPointer<GalleryModel> self(this);
    m_placements->deferredWriter().setOnResult([self](const std::optional<Error>& error) {
        if (!self)
            return;
        const QString prefix = text(kPlacementUnsavedPrefix);
        if (error)
            self->publish(self->m_placementError,
                          std::optional<QString>(prefix + error->localizedDescription()),
                          &GalleryModel::placementErrorChanged);
        else if (self->m_placementError && self->m_placementError->startsWith(prefix))
            self->publish(self->m_placementError, std::optional<QString>(),
                          &GalleryModel::placementErrorChanged);
    });
    m_lineHistory->deferredWriter().setOnResult([self](const std::optional<Error>& error) {
        if (self)
            self->lineWriteFinished(error);
    });
    m_interactions->deferredWriter().setOnResult([self](const std::optional<Error>& error) {
        if (!self)
            return;
        const QString prefix = text(kInteractionsUnsavedPrefix);
        if (error)
            self->publish(self->m_actionError, std::optional<QString>(prefix + error->localizedDescription()),
                          &GalleryModel::actionErrorChanged);
        else if (self->m_actionError && self->m_actionError->startsWith(prefix))
            self->publish(self->m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    });
}

bool GalleryModel::observeArrivals(const QList<Photo>& photos) {
    std::unique_ptr<UsageHistory> legacy;
    if (!m_interactions->initialized())
        legacy =
            std::make_unique<UsageHistory>(m_indexer->storage(), QString::fromLatin1(kLegacyUsageFileName));
    const Status status = m_interactions->observeArrivals(photos, legacy.get(), UsageWriteMode::background);
    if (!status)
        publish(
            m_actionError,
            std::optional<QString>(text(kInteractionsUnsavedPrefix) + status.error().localizedDescription()),
            &GalleryModel::actionErrorChanged);
    return status.ok();
}

bool GalleryModel::observeClothesline(const QList<Photo>& photos) {
    if (m_exhibitionBlocked)
        return false;
    const quint64 before = m_lineHistory->recordsRevision();
    Status status = savePendingTrashTakeDown();
    if (status)
        status = m_lineHistory->observe(photos, UsageWriteMode::background);
    if (m_lineHistory->recordsRevision() != before)
        Q_EMIT modelChanged();
    if (status) {
        // A write still under way or owed clears the text by its own success.
        if (m_lineError && !m_lineHistory->deferredWriter().needsSave())
            publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
        return true;
    }
    lineWriteFinished(status.error());
    return false;
}

void GalleryModel::lineWriteFinished(const std::optional<Error>& error) {
    if (!error) {
        if (m_lineError)
            publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
        return;
    }
    const QString prefix =
        m_pendingTrashTakeDown.isEmpty() ? text(kLineUnsavedPrefix) : text(kTrashTakeDownUnsavedPrefix);
    const QString message = prefix + error->localizedDescription();
    if (m_lineError != message)
        publish(m_lineError, std::optional<QString>(message), &GalleryModel::lineErrorChanged);
}

void GalleryModel::setPhotos(const QList<Photo>& photos) {
    publish(m_photos, photos, &GalleryModel::photosChanged);
    m_interactions->prepareIdentities(m_photos);
    m_lineHistory->prepareIdentities(m_photos);
}

void GalleryModel::setScanning(bool scanning) {
    if (m_scanning != scanning)
        publish(m_scanning, scanning, &GalleryModel::scanningChanged);
}

void GalleryModel::setEmptyClotheslineRequested(bool requested) {
    publish(m_emptyClotheslineRequested, requested, &GalleryModel::emptyClotheslineRequestedChanged);
}

void GalleryModel::setImporting(bool importing) {
    publish(m_importing, importing, &GalleryModel::importingChanged);
}

void GalleryModel::setDeleting(bool deleting) {
    publish(m_deleting, deleting, &GalleryModel::deletingChanged);
}

void GalleryModel::setSelectionRequest(int request) {
    publish(m_selectionRequest, request, &GalleryModel::selectionRequestChanged);
}

void GalleryModel::setKeyboardRevealID(const std::optional<QString>& id) {
    publish(m_keyboardRevealID, id, &GalleryModel::keyboardRevealIDChanged);
}

void GalleryModel::start(double fallbackInterval) {
    if (m_timer != nullptr)
        return;
    rebuildWatcher();
    refresh(std::nullopt, true);
    const double interval = std::max(kMinTickSeconds, std::min(fallbackInterval, m_options.maxTickSeconds));
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this, fallbackInterval] { tick(fallbackInterval); });
    m_timer->start(std::chrono::milliseconds(static_cast<qint64>(interval * 1000)));
}

std::chrono::milliseconds GalleryModel::tickInterval() const {
    return m_timer != nullptr ? m_timer->intervalAsDuration() : std::chrono::milliseconds(0);
}

void GalleryModel::tick(double fallbackInterval) {
    double threshold = fallbackInterval;
    if (!m_configuredRoots.isEmpty() && (m_watcher == nullptr || !m_watcher->running())) {
        if (!m_watcherBuildPending)
            rebuildWatcher();
        threshold = std::min(fallbackInterval, m_options.maxTickSeconds);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_lastReconciliation ||
        std::chrono::duration<double>(now - *m_lastReconciliation).count() >= threshold)
        refresh(std::nullopt, false);
}

void GalleryModel::rebuildWatcher() {
    const int generation = ++m_watcherGeneration;
    m_watcherBuildPending = true;
    QStringList roots;
    for (const SourceRoot& root : m_configuredRoots)
        roots.append(root.path);
    const QStringList ignored{m_indexer->storage()};
    if (m_watcher)
        m_watcher->stop();
    m_watcher.reset();
    if (roots.isEmpty()) {
        m_watcherBuildPending = false;
        return;
    }
    const QPointer<GalleryModel> self(this);
    m_watcherBuildQueue->async([self, generation, roots, ignored] {
        auto built = std::make_shared<std::unique_ptr<FolderWatcher>>(std::make_unique<FolderWatcher>(
            roots, ignored, FolderWatcher::Handler([self](const QList<FolderChange>& changes) {
                if (self)
                    self->refresh(changes, false);
            })));
        postToMain([self, generation, built] {
            if (!self || self->m_watcherGeneration != generation) {
                (*built)->stop();
                return;
            }
            self->m_watcherBuildPending = false;
            (*built)->activate();
            self->m_watcher = std::move(*built);
            self->refresh(std::nullopt, false);
        });
    });
}

void GalleryModel::updateSources(const QList<SourceRoot>& roots) {
    m_configuredRoots = normalizedSourceRoots(roots);
    ++m_sourceGeneration;
    if (m_watcher)
        m_watcher->stop();
    m_watcher.reset();
    rebuildWatcher();
    m_queue->async([indexer = m_indexer.get(), roots = m_configuredRoots] { indexer->reconfigure(roots); });
    refresh(std::nullopt, true);
}

void GalleryModel::refresh(const std::optional<QList<FolderChange>>& changes, bool showProgress) {
    if (m_exhibitionBlocked)
        return;
    if (m_scanInFlight) {
        m_refreshPending = true;
        m_pendingShowProgress = m_pendingShowProgress || showProgress;
        if (showProgress)
            setScanning(true);
        if (!changes)
            m_pendingFullRefresh = true;
        else
            m_pendingChanges.append(*changes);
        return;
    }
    m_scanInFlight = true;
    if (showProgress)
        setScanning(true);
    const bool reconciling =
        !changes || std::any_of(changes->cbegin(), changes->cend(),
                                [](const FolderChange& change) { return change.requiresReconciliation(); });
    if (reconciling)
        m_lastReconciliation = std::chrono::steady_clock::now();
    const int generation = m_sourceGeneration;
    Indexer* indexer = m_indexer.get();
    WorkQueue* queue = m_queue.get();
    const QPointer<GalleryModel> self(this);
    const auto latestThumbnails = m_latestThumbnailUpdate;
    m_queue->async([self, indexer, queue, generation, changes, latestThumbnails] {
        const QList<Photo> photos = indexer->scan(changes, false);
        const QStringList errors = indexer->errors();
        const auto scanned = std::chrono::steady_clock::now();
        postTo(self.data(), [self, generation, photos, errors, scanned] {
            self->applyScan(generation, photos, errors, scanned);
        });
        indexer->prepareThumbnails(queue, [self, generation, latestThumbnails](const QList<Photo>& updated) {
            const std::uint64_t serial = ++*latestThumbnails;
            postTo(self.data(), [self, generation, updated, latestThumbnails, serial] {
                if (serial == latestThumbnails->load())
                    self->applyThumbnails(generation, updated);
            });
        });
        indexer->prepareForChanges();
    });
}

void GalleryModel::applyThumbnails(int generation, const QList<Photo>& indexed) {
    if (generation != m_sourceGeneration)
        return;
    const QList<Photo> merged = m_exhibition->merged(indexed);
    if (merged != m_photos)
        setPhotos(merged);
}

void GalleryModel::applyScan(int generation, const QList<Photo>& photos, const QStringList& errors,
                             std::chrono::steady_clock::time_point scanned) {
    ++m_appliedScanCount;
    if (generation != m_sourceGeneration) {
        m_scanInFlight = false;
        setScanning(false);
        m_refreshPending = false;
        m_pendingFullRefresh = false;
        m_pendingShowProgress = false;
        m_pendingChanges.clear();
        refresh(std::nullopt, true);
        return;
    }
    const QList<Photo> merged = m_exhibition->merged(photos);
    QSet<QString> arrivals;
    for (const Photo& photo : photosNotIn(m_photos, merged, PhotoMatch::id))
        arrivals.insert(photo.id);
    // Records are never taken back, so what the histories took in before still stands: only what
    // changed since needs a look, which keeps one new file cheap on a large library.
    const QList<Photo> unobserved =
        m_observedPhotos ? photosNotIn(*m_observedPhotos, merged, PhotoMatch::identity) : merged;
    bool observed = !m_establishBaseline || observeArrivals(unobserved);
    observed = observeClothesline(unobserved) && observed;
    // The list this one replaces goes on the index queue: letting go of a large library's records
    // is a walk over all of them.
    QList<Photo> replaced = m_photos;
    std::optional<QList<Photo>> replacedObserved =
        std::exchange(m_observedPhotos, observed ? std::optional<QList<Photo>>(merged) : std::nullopt);
    if (merged != m_photos) {
        // What the histories took in before was prepared then: the new ones are what is left.
        publish(m_photos, merged, &GalleryModel::photosChanged);
        m_interactions->prepareIdentities(unobserved);
        m_lineHistory->prepareIdentities(unobserved);
    }
    m_queue->async([replaced = std::move(replaced), replacedObserved = std::move(replacedObserved)] {});
    pruneSelection(m_selectedIDs.isEmpty() ? QSet<QString>() : idsOf(merged));
    const std::optional<QString> scanError =
        errors.isEmpty() ? std::nullopt : std::optional<QString>(errors.mid(0, 2).join(u'\n'));
    if (scanError != m_errorMessage)
        publish(m_errorMessage, scanError, &GalleryModel::errorMessageChanged);
    m_scanInFlight = false;
    m_lastApplyLatency = std::chrono::steady_clock::now() - scanned;
    if (!arrivals.isEmpty()) {
        m_latestArrivalIDs = arrivals;
        publish(m_arrivalRevision, m_arrivalRevision + 1, &GalleryModel::arrivalRevisionChanged);
    }
    if (!m_refreshPending) {
        setScanning(false);
        return;
    }
    const std::optional<QList<FolderChange>> changes =
        m_pendingFullRefresh ? std::nullopt : std::optional<QList<FolderChange>>(m_pendingChanges);
    const bool showProgress = m_pendingShowProgress;
    m_refreshPending = false;
    m_pendingFullRefresh = false;
    m_pendingShowProgress = false;
    m_pendingChanges.clear();
    if (!showProgress)
        setScanning(false);
    refresh(changes, showProgress);
}

QList<Photo> GalleryModel::selectedPhotos() const {
    QList<Photo> selected;
    for (const Photo& photo : m_photos) {
        if (m_selectedIDs.contains(photo.id))
            selected.append(photo);
    }
    return selected;
}

void GalleryModel::toggleSelection(const Photo& photo) {
    if (isBusy())
        return;
    publish(m_copiedCount, 0, &GalleryModel::copiedCountChanged);
    m_selectionAnchorID = photo.id;
    acknowledge({photo});
    QSet<QString> selected = m_selectedIDs;
    if (selected.contains(photo.id))
        selected.remove(photo.id);
    else
        selected.insert(photo.id);
    publish(m_selectedIDs, selected, &GalleryModel::selectedIDsChanged);
    publish(m_selectionMode, !m_selectedIDs.isEmpty(), &GalleryModel::selectionModeChanged);
}

void GalleryModel::setSelection(const QList<Photo>& photos) {
    if (isBusy())
        return;
    acknowledge(photos);
    publish(m_copiedCount, 0, &GalleryModel::copiedCountChanged);
    publish(m_selectedIDs, idsOf(photos), &GalleryModel::selectedIDsChanged);
    publish(m_selectionMode, !m_selectedIDs.isEmpty(), &GalleryModel::selectionModeChanged);
    m_selectionAnchorID = photos.isEmpty() ? std::nullopt : std::optional<QString>(photos.last().id);
}

void GalleryModel::endSelection() {
    if (m_deleting || m_importing)
        return;
    publish(m_selectedIDs, QSet<QString>(), &GalleryModel::selectedIDsChanged);
    publish(m_selectionMode, false, &GalleryModel::selectionModeChanged);
    publish(m_copiedCount, 0, &GalleryModel::copiedCountChanged);
}

void GalleryModel::pruneSelection(const QSet<QString>& ids) {
    const QSet<QString> kept = m_selectedIDs & ids;
    if (kept != m_selectedIDs) {
        publish(m_selectedIDs, kept, &GalleryModel::selectedIDsChanged);
        publish(m_copiedCount, 0, &GalleryModel::copiedCountChanged);
    }
    if (kept.isEmpty() && m_selectionMode)
        publish(m_selectionMode, false, &GalleryModel::selectionModeChanged);
}

void GalleryModel::acknowledge(const QList<Photo>& photos) {
    QList<Photo> kept;
    for (const Photo& photo : photos) {
        if (!m_interactions->isUsed(photo))
            kept.append(photo);
    }
    if (kept.isEmpty())
        return;
    const Status status = m_interactions->setUsedDeferred(kept, true);
    Q_EMIT modelChanged();
    if (!status)
        publish(
            m_actionError,
            std::optional<QString>(text(kInteractionsUnsavedPrefix) + status.error().localizedDescription()),
            &GalleryModel::actionErrorChanged);
}

void GalleryModel::requestGalleryMode(bool clothesline) {
    if (m_deleting || m_importing)
        return;
    endSelection();
    const bool anyHanging =
        std::any_of(m_photos.cbegin(), m_photos.cend(), [this](const Photo& photo) { return hangs(photo); });
    publish(m_emptyClotheslineRequested, clothesline && !anyHanging,
            &GalleryModel::emptyClotheslineRequestedChanged);
    publish(m_clotheslineMode, clothesline, &GalleryModel::clotheslineModeChanged);
}

std::optional<QString> GalleryModel::displayedError() const {
    for (const std::optional<QString>* error :
         {&m_placementError, &m_lineError, &m_actionError, &m_errorMessage}) {
        if (*error)
            return *error;
    }
    return std::nullopt;
}

void GalleryModel::dismissErrors() {
    publish(m_placementError, std::optional<QString>(), &GalleryModel::placementErrorChanged);
    publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    publish(m_errorMessage, std::optional<QString>(), &GalleryModel::errorMessageChanged);
}

bool GalleryModel::hangs(const Photo& photo) const {
    return !awaitsTrashTakeDown(photo) && m_lineHistory->hasRecord(photo) && !m_lineHistory->isUsed(photo);
}

bool GalleryModel::awaitsTrashTakeDown(const Photo& photo) const {
    const auto it = m_pendingTrashTakeDown.constFind(photo.recordKey());
    return it != m_pendingTrashTakeDown.constEnd() && sameFileBirth(it->created, photo.created);
}

void GalleryModel::addPendingTrashTakeDown(const QList<Photo>& photos) {
    for (const Photo& photo : photos)
        m_pendingTrashTakeDown.insert(photo.recordKey(), photo);
}

void GalleryModel::removePendingTrashTakeDown(const QList<Photo>& photos) {
    for (const Photo& photo : photos) {
        if (awaitsTrashTakeDown(photo))
            m_pendingTrashTakeDown.remove(photo.recordKey());
    }
}

Status GalleryModel::savePendingTrashTakeDown() {
    if (m_pendingTrashTakeDown.isEmpty())
        return {};
    const Status status = m_lineHistory->setUsed(m_pendingTrashTakeDown.values(), true);
    if (status)
        m_pendingTrashTakeDown.clear();
    return status;
}

} // namespace vennimo
