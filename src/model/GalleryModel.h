#pragma once

#include "core/ClotheslinePlacementStore.h"
#include "core/ExhibitionStore.h"
#include "core/FolderChange.h"
#include "core/FolderWatcher.h"
#include "core/Indexer.h"
#include "core/PathRules.h"
#include "core/Photo.h"
#include "core/UsageHistory.h"
#include "dragdrop/ExternalImageDrop.h"
#include "model/ClotheslineChrome.h"
#include "model/CopyUndoRecord.h"
#include "model/DeferredStateExitChoice.h"
#include "model/ExhibitionImportStep.h"
#include "model/RopeActionSeams.h"
#include "model/RopeHistoryEntry.h"
#include "model/RopeHistoryRecording.h"
#include "model/SpaceKeyOpener.h"
#include "model/TrashWorkers.h"
#include "platform/PhotosLibrary.h"
#include "platform/WorkQueue.h"

#include <QClipboard>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

inline constexpr double kGalleryModelMaxTickSeconds = 5;

struct GalleryModelOptions {
    // Writers of the stores the model creates; tests shorten or fail them.
    DeferredStateWriter::Options interactionsWriter{};
    DeferredStateWriter::Options lineWriter{};
    DeferredStateWriter::Options placementsWriter{};
    // The longest tick, and the rescan threshold while no watcher lives.
    double maxTickSeconds = kGalleryModelMaxTickSeconds;
    // Called at each step of an exhibition import, on the thread that reached it.
    ExhibitionImportStepHook importStepHook{};
    // Limits of turning a drop into files.
    ExternalImageDrop::ImportOptions dropImport{};
};

// The one observable application model, on the main thread for the life of the process. It owns
// the photo list every screen shows and the stores of the storage folder, and keeps the list
// current: a folder watcher reports changed paths, a repeating timer catches what the watcher
// misses, and each refresh scans on the index queue and is applied back on the main thread.
class GalleryModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vennimo::Photo> photos READ photos NOTIFY photosChanged)
    Q_PROPERTY(bool clotheslineMode READ clotheslineMode NOTIFY clotheslineModeChanged)
    Q_PROPERTY(
        bool emptyClotheslineRequested READ emptyClotheslineRequested NOTIFY emptyClotheslineRequestedChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool scanning READ scanning NOTIFY scanningChanged)
    Q_PROPERTY(bool importing READ importing NOTIFY importingChanged)
    Q_PROPERTY(std::optional<QString> placementError READ placementError NOTIFY placementErrorChanged)
    Q_PROPERTY(std::optional<QString> lineError READ lineError NOTIFY lineErrorChanged)
    Q_PROPERTY(QList<vennimo::RopeHistoryEntry> undoHistory READ undoHistory NOTIFY undoHistoryChanged)
    Q_PROPERTY(QList<vennimo::RopeHistoryEntry> redoHistory READ redoHistory NOTIFY redoHistoryChanged)
    Q_PROPERTY(std::optional<QString> actionError READ actionError NOTIFY actionErrorChanged)
    Q_PROPERTY(QSet<QString> selectedIDs READ selectedIDs NOTIFY selectedIDsChanged)
    Q_PROPERTY(bool selectionMode READ selectionMode NOTIFY selectionModeChanged)
    Q_PROPERTY(int selectionRequest READ selectionRequest NOTIFY selectionRequestChanged)
    Q_PROPERTY(std::optional<QString> keyboardRevealID READ keyboardRevealID NOTIFY keyboardRevealIDChanged)
    Q_PROPERTY(bool deleting READ deleting NOTIFY deletingChanged)
    Q_PROPERTY(int copiedCount READ copiedCount NOTIFY copiedCountChanged)
    Q_PROPERTY(int arrivalRevision READ arrivalRevision NOTIFY arrivalRevisionChanged)

public:
    using CopyUndoRecord = vennimo::CopyUndoRecord;
    using TrashCompletion = vennimo::TrashCompletion;
    using TrashedHandler = vennimo::TrashedHandler;
    using RecycleCopiedFiles = std::function<void(const QList<Photo>& photos, TrashCompletion completion)>;
    using RecycleDeletedPhotos =
        std::function<void(const QList<Photo>& photos, TrashedHandler trashed, TrashCompletion completion)>;
    using PhotosDecision = std::function<bool(const QList<Photo>& photos)>;
    using PhotosAccessStatus = std::function<PhotosAuthorization()>;
    using RequestPhotosAccess = std::function<void(std::function<void(PhotosAuthorization)> completion)>;
    using ExplainPhotosAccessDenied = std::function<void()>;
    using ImportCompletion = std::function<void(bool imported)>;
    // The modal warning after a delete that left photos behind: message and informative text.
    using TrashFailureAlert = std::function<void(const QString& message, const QString& informative)>;
    // Opens the file manager's properties of the files with the startup notification id its windows
    // are to carry; blocks, runs off the main thread.
    using ShowItemProperties = std::function<Status(const QStringList& paths, const QString& startupId)>;

    static constexpr auto kQueueLabel = "local.vennimo.index";
    static constexpr double kMinTickSeconds = 0.05;
    static constexpr double kMaxTickSeconds = kGalleryModelMaxTickSeconds;

    static constexpr auto kRecoveryFailedPrefix = "展览保存恢复失败，请重启后重试：";
    static constexpr auto kPlacementUnsavedPrefix = "照片位置未保存：";
    static constexpr auto kInteractionsUnsavedPrefix = "新照片提示状态未保存：";
    static constexpr auto kLineUnsavedPrefix = "晾衣绳状态未保存：";
    static constexpr auto kExhibitionPendingText = "展览保存尚未完成，请重启应用恢复；原图未移动。";
    static constexpr auto kTrashTakeDownUnsavedPrefix =
        "原图已删除，但晾衣绳状态未保存，将自动重试。请暂勿退出应用。\n";

    using Options = GalleryModelOptions;

    // Applies a journal left behind, then loads every store. The model owns the indexer, since
    // the indexer's thumbnail work reports on the model's queue, which must outlive it.
    GalleryModel(std::unique_ptr<Indexer> indexer, bool establishBaseline, Options options = {},
                 QObject* parent = nullptr);
    ~GalleryModel() override;

    // Starts the watcher, the first full refresh and the fallback timer; later calls do nothing.
    void start(double fallbackInterval);
    void updateSources(const QList<SourceRoot>& roots);
    // Absent changes ask for a full reconciliation. One scan runs at a time; requests made
    // meanwhile merge into one, a full one winning.
    void refresh(const std::optional<QList<FolderChange>>& changes, bool showProgress);

    ClotheslineChrome& clotheslineChrome() { return *m_chrome; }
    const QList<Photo>& photos() const { return m_photos; }
    // Stores and announces the list, then teaches both histories its identities.
    void setPhotos(const QList<Photo>& photos);
    bool clotheslineMode() const { return m_clotheslineMode; }
    bool emptyClotheslineRequested() const { return m_emptyClotheslineRequested; }
    void setEmptyClotheslineRequested(bool requested);
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    bool scanning() const { return m_scanning; }
    UsageHistory& interactions() { return *m_interactions; }
    UsageHistory& lineHistory() { return *m_lineHistory; }
    ClotheslinePlacementStore& clotheslinePlacements() { return *m_placements; }
    ExhibitionStore& exhibition() { return *m_exhibition; }
    bool importing() const { return m_importing; }
    void setImporting(bool importing);
    bool exhibitionBlocked() const { return m_exhibitionBlocked; }
    const std::optional<QString>& placementError() const { return m_placementError; }
    const std::optional<QString>& lineError() const { return m_lineError; }
    const QList<RopeHistoryEntry>& undoHistory() const { return m_undoHistory; }
    const QList<RopeHistoryEntry>& redoHistory() const { return m_redoHistory; }
    const QSet<QString>& usedCopyIDs() const { return m_usedCopyIDs; }
    std::uint64_t takeDownUndoGeneration() const { return m_takeDownUndoGeneration; }
    const std::optional<QString>& actionError() const { return m_actionError; }
    const QSet<QString>& selectedIDs() const { return m_selectedIDs; }
    bool selectionMode() const { return m_selectionMode; }
    int selectionRequest() const { return m_selectionRequest; }
    void setSelectionRequest(int request);
    const std::optional<QString>& selectionAnchorID() const { return m_selectionAnchorID; }
    const std::optional<QString>& keyboardRevealID() const { return m_keyboardRevealID; }
    void setKeyboardRevealID(const std::optional<QString>& id);
    bool deleting() const { return m_deleting; }
    void setDeleting(bool deleting);
    int copiedCount() const { return m_copiedCount; }
    bool establishBaseline() const { return m_establishBaseline; }
    int arrivalRevision() const { return m_arrivalRevision; }
    const QSet<QString>& latestArrivalIDs() const { return m_latestArrivalIDs; }
    Indexer& indexer() { return *m_indexer; }
    WorkQueue& queue() { return *m_queue; }
    const QList<SourceRoot>& configuredRoots() const { return m_configuredRoots; }
    FolderWatcher* watcher() const { return m_watcher.get(); }
    bool started() const { return m_timer != nullptr; }
    // The fallback timer's period; zero before start().
    std::chrono::milliseconds tickInterval() const;
    // Scan results that came back to the main thread, stale ones included.
    int appliedScanCount() const { return m_appliedScanCount; }
    bool scanInFlight() const { return m_scanInFlight; }
    int sourceGeneration() const { return m_sourceGeneration; }
    int watcherGeneration() const { return m_watcherGeneration; }
    // From the end of the last applied scan to the end of its apply step, queue wait included.
    std::chrono::nanoseconds lastApplyLatency() const { return m_lastApplyLatency; }

    // Replaceable steps; the defaults are the model's own.
    const RecycleCopiedFiles& recycleCopiedFiles() const { return m_recycleCopiedFiles; }
    void setRecycleCopiedFiles(RecycleCopiedFiles fn) { m_recycleCopiedFiles = std::move(fn); }
    const RecycleDeletedPhotos& recycleDeletedPhotos() const { return m_recycleDeletedPhotos; }
    void setRecycleDeletedPhotos(RecycleDeletedPhotos fn) { m_recycleDeletedPhotos = std::move(fn); }
    const PhotosAccessStatus& photosAccessStatus() const { return m_photosAccessStatus; }
    void setPhotosAccessStatus(PhotosAccessStatus fn) { m_photosAccessStatus = std::move(fn); }
    const RequestPhotosAccess& requestPhotosAccess() const { return m_requestPhotosAccess; }
    void setRequestPhotosAccess(RequestPhotosAccess fn) { m_requestPhotosAccess = std::move(fn); }
    const ExplainPhotosAccessDenied& explainPhotosAccessDenied() const { return m_explainPhotosAccessDenied; }
    void setExplainPhotosAccessDenied(ExplainPhotosAccessDenied fn) {
        m_explainPhotosAccessDenied = std::move(fn);
    }
    const PhotosDecision& authorizeTrash() const { return m_authorizeTrash; }
    void setAuthorizeTrash(PhotosDecision fn) { m_authorizeTrash = std::move(fn); }
    const PhotosDecision& requestTrashConfirmation() const { return m_requestTrashConfirmation; }
    void setRequestTrashConfirmation(PhotosDecision fn) { m_requestTrashConfirmation = std::move(fn); }
    const TrashFailureAlert& trashFailureAlert() const { return m_trashFailureAlert; }
    void setTrashFailureAlert(TrashFailureAlert fn) { m_trashFailureAlert = std::move(fn); }
    const ShowItemProperties& showItemProperties() const { return m_showItemProperties; }
    void setShowItemProperties(ShowItemProperties fn) { m_showItemProperties = std::move(fn); }
    const PhotosDecision& requestPhotoCopyConfirmation() const { return m_requestPhotoCopyConfirmation; }
    void setRequestPhotoCopyConfirmation(PhotosDecision fn) {
        m_requestPhotoCopyConfirmation = std::move(fn);
    }

    // Feeds photos to the line history: newcomers get a record without a used date and hang.
    // False when the photos could not be recorded.
    bool observeClothesline(const QList<Photo>& photos);
    // Shows the outcome of a line-history write, whether the caller waited for it or not.
    void lineWriteFinished(const std::optional<Error>& error);

    // Selection and mode.
    QList<Photo> selectedPhotos() const;
    void toggleSelection(const Photo& photo);
    void setSelection(const QList<Photo>& photos);
    void endSelection();
    void pruneSelection(const QSet<QString>& ids);
    // Dismisses the new-photo notice of the photos.
    void acknowledge(const QList<Photo>& photos);
    void requestGalleryMode(bool clothesline);
    // The one error text the views show: placement, line, action, then scan.
    std::optional<QString> displayedError() const;
    void dismissErrors();

    // A photo hangs when it awaits no trash take-down and its line record (of its file birth)
    // has no used date.
    bool hangs(const Photo& photo) const;
    // Deleting or importing, or the exhibition could not be loaded.
    bool isBusy() const { return m_deleting || m_importing || m_exhibitionBlocked; }
    // The photo was deleted and its take-down is not yet in the line history.
    bool awaitsTrashTakeDown(const Photo& photo) const;
    const QHash<QString, Photo>& pendingTrashTakeDown() const { return m_pendingTrashTakeDown; }
    // For the trash operations: deleted photos whose take-down is still to be written, and
    // photos that came back from the Trash.
    void addPendingTrashTakeDown(const QList<Photo>& photos);
    void removePendingTrashTakeDown(const QList<Photo>& photos);
    // Writes the pending take-downs in one call; on failure the map stays as it was.
    Status savePendingTrashTakeDown();

    // Rope placements (GalleryModelRopeActions.cpp). Gives hanging prints without a place a free
    // slot; false while importing or blocked, or when the store failed.
    bool ensureClotheslinePositions(int columns);
    // True when the print is in front afterwards; pressing the top print writes nothing.
    bool bringClotheslinePhotoToFront(const Photo& photo);
    // All or nothing: a batch naming a photo that no longer hangs stores none of its moves.
    bool moveClotheslinePhotos(const QList<ClotheslinePlacementUpdate>& updates);
    // What a drag out of this photo carries: the selection when it holds the photo.
    QList<Photo> dragPhotos(const Photo& photo) const;
    // Only a copy marks the photos as having left the application.
    void completeDrag(const QList<Photo>& photos, Qt::DropAction action);
    // Notes a photo that left the application (opened elsewhere, dragged or copied out).
    void insertUsedCopyID(const QString& recordKey) { m_usedCopyIDs.insert(recordKey); }

    // Hanging (GalleryModelHanging.cpp). True when the photos are as asked afterwards, also when
    // nothing had to change; false while busy or when "clothesline.json" could not be written.
    bool setHanging(const QList<Photo>& photos, bool hanging, RopeHistoryRecording recording);
    // The Delete key of the rope: the selected hanging photos, as one recorded action.
    void takeDownSelection();
    // The photo left the application through the clipboard.
    void markExported(const Photo& photo);
    // The photos the newest undo entry took off the rope.
    QList<Photo> lastTakenDown() const;
    bool canUndoTakeDown() const;

    // Rope action history (GalleryModelHistory.cpp), at most kRopeHistoryLimit entries a side.
    static constexpr qsizetype kRopeHistoryLimit = 20;
    bool canUndoRopeAction() const;
    bool canRedoRopeAction() const;
    QString ropeUndoTitle() const;
    QString ropeRedoTitle() const;
    // The newest entry moves to the redo side only once its inversion worked.
    void undoRopeAction();
    void redoRopeAction();
    // For the operations that make entries.
    void pushUndo(const RopeHistoryEntry& entry, bool clearsRedo);
    void pushRedo(const RopeHistoryEntry& entry);
    // Photos that were deleted leave every entry; an entry left without records goes.
    void pruneRopeHistory(const QList<Photo>& removing);
    // Photos that came back as new files; with preservingExports a copied-out photo stays copied out.
    void remapRopeHistory(const QList<PhotoReplacement>& pairs, bool preservingExports);
    // The current photo that is the same photo as a stored one.
    std::optional<Photo> livePhoto(const Photo& matching) const;
    const RopeActionSeams& ropeActionSeams() const { return m_ropeActionSeams; }
    RopeActionSeams& ropeActionSeams() { return m_ropeActionSeams; }

    // Photo copies (GalleryModelCopies.cpp). The records of a replayed copy and the pairs that
    // repoint the history from the recycled copies to their new ones.
    struct ReplayedCopies {
        QList<CopyUndoRecord> records;
        QList<PhotoReplacement> replacements;
    };
    // Links resolved, then cleaned: the key copies and exhibition items are matched by.
    static QString copyPathKey(const QString& path);
    // One record per copy, in order, or none at all when a copy is not in `byPath`.
    static QList<CopyUndoRecord> copyUndoRecords(const QList<Photo>& sources, const QStringList& paths,
                                                 const QList<QByteArray>& digests,
                                                 const QHash<QString, Photo>& byPath);
    // The redone entry's records with each recycled one replaced by the new copy of its source;
    // nothing unless the new copies match the recycled records one to one.
    static std::optional<ReplayedCopies> replayedCopyRecords(const QList<CopyUndoRecord>& records,
                                                             const QList<CopyUndoRecord>& created);
    using CopiesCreated = std::function<void(bool created, const QList<CopyUndoRecord>& records)>;
    // A print dropped back onto the rope as a copy: its file is duplicated into the storage
    // folder and hangs at rope position x (GalleryModelCopyUndo.cpp).
    void confirmPhotoCopies(const QList<Photo>& photos, double x,
                            RopeHistoryRecording recording = RopeHistoryRecording::record,
                            std::function<void(bool)> completion = {});
    // Moves the hanging photos' files into a folder and takes them down as one journaled change;
    // the moved files' names, nothing when nothing was done (GalleryModelPegMove.cpp). A drop
    // target's folder comes with the descriptor it was checked through; else it is opened here.
    std::optional<QStringList> movePegPhotos(const QList<Photo>& photos, const QString& directory,
                                             RopeHistoryRecording recording, int folderDescriptor = -1);
    // A delivery into a folder that was refused before the model was asked (a drop target that
    // named no usable folder) shows its reason as the action error.
    void reportPegDeliveryFailure(const QString& message);
    // Undoes such a move through a peg return in the journal; the records for redo.
    std::optional<QList<PegReturnRecord>> restorePegFolderMove(const QList<PegReturnRecord>& records);
    // The selected photos to the clipboard; false while busy or when none could be copied.
    bool copySelection(QClipboard::Mode mode = QClipboard::Clipboard);
    // One photo as its file and its image as it is now; false while busy or when it failed.
    bool copy(const Photo& photo, QClipboard::Mode mode = QClipboard::Clipboard);

    // Deferred state (GalleryModelDeferredState.cpp). Writes both debounced states now; each
    // failure is published under its own prefix, and the interactions error wins when both fail.
    Status flushDeferredState();
    // Abandons the pending writes; the records in memory keep the changes.
    void discardDeferredState();
    // Why quitting must wait, nothing when it need not.
    std::optional<QString> terminationBlockReason() const;
    // The three-button alert of a failed flush at quit; installed by the shell, cancel until then.
    const DeferredStateAlert& deferredStateAlert() const { return m_deferredStateAlert; }
    void setDeferredStateAlert(DeferredStateAlert fn) { m_deferredStateAlert = std::move(fn); }

    // Exhibition imports (GalleryModelImport.cpp). A drop of foreign images at rope position x
    // (0 to 1): its items become files of the storage folder, then exhibition prints hanging at x.
    // Does nothing while busy; `importing` stays true from the drop to the commit.
    void importExhibitionDrop(const ExternalImageDrop::Snapshot& snapshot, double x,
                              ImportCompletion completion = {});
    // The session's end does not wait for a drop: the running drop begins no further item, stops
    // its downloads, waits and readings, and hangs what it finished; an item cut short leaves
    // nothing behind. Answers whether a drop was still being saved.
    bool cancelExhibitionDrop();
    // Image files already in the storage folder, hung at x as one journaled change. With
    // requireAll nothing hangs unless every file could be prepared.
    void importExhibition(const QStringList& paths, double x, const QHash<QString, PhotosOrigin>& origins,
                          bool requireAll, ImportCompletion completion);
    // Loads the exhibition, the line history and the placements afresh from the storage folder,
    // so that they hold what a commit or a recovery wrote, with the model's writers and
    // deferred-state reporting. The interactions history is not reloaded. Callers flush first.
    void reloadExhibitionStores();
    // Why no journal may be written now: the model is blocked, or a journal is left on disk.
    std::optional<QString> journalWriteRefusal() const;

    // Trash (GalleryModelTrash.cpp). The user's delete command: Photos access when an asset is
    // among the photos, the confirmation and the folder grant, then the delete.
    void confirmTrash(const QList<Photo>& photos);
    // Deletes the photos; onNothingDeleted runs when it was refused or every photo failed.
    void trashSelection(const QList<Photo>& photos, RopeHistoryRecording recording,
                        std::function<void()> onNothingDeleted = {});
    // Takes the deleted photos out of the list, the stores and (unless preserved) the histories.
    void applyTrashResult(const QList<Photo>& succeeded, const QHash<QString, QString>& failed,
                          bool preservingHistory);

    // Properties (GalleryModelProperties.cpp): the file manager's properties of the photos, by
    // default the selected ones, after checking each file is still the photo's.
    void showProperties(const std::optional<QList<Photo>>& photos = std::nullopt);

    // Keyboard selection (GalleryModelKeyboard.cpp). Selects the photos, or ends the selection
    // when all of them already are.
    void toggleAllSelection(const QList<Photo>& photos);
    // Steps the selection along `photos` from the anchor; with extend the selection only grows.
    void moveKeyboardSelection(const QList<Photo>& photos, int direction, bool extend);
    // The hanging photos left to right along the rope, ties by id.
    QList<Photo> orderedRopePhotos() const;
    // The order of that list for any two photos: by place along the rope, a photo without a
    // place in the middle, ties by id.
    bool ropeOrderPrecedes(const Photo& a, const Photo& b) const;
    void setClotheslineMode(bool clothesline);

    // The space bar's opening (GalleryModelSpaceKey.cpp): each photo with the default
    // application, or all of them in one launch of the chosen one; the preview never gets here.
    // Only what was opened counts as having left the application.
    void openWithSpaceKeyApp(const QList<Photo>& photos, const SpaceKeyOpener& opener);
    SpaceKeyLaunchSeams& spaceKeyLaunch() { return m_spaceKeyLaunch; }

Q_SIGNALS:
    void photosChanged();
    void clotheslineModeChanged();
    void emptyClotheslineRequestedChanged();
    void errorMessageChanged();
    void scanningChanged();
    void importingChanged();
    void placementErrorChanged();
    void lineErrorChanged();
    void undoHistoryChanged();
    void redoHistoryChanged();
    void actionErrorChanged();
    void selectedIDsChanged();
    void selectionModeChanged();
    void selectionRequestChanged();
    void keyboardRevealIDChanged();
    void deletingChanged();
    void copiedCountChanged();
    void arrivalRevisionChanged();
    // A change inside a store that no published property carries.
    void modelChanged();

private:
    template <class T>
    void publish(T& member, T value, void (GalleryModel::*changed)()) {
        member = std::move(value);
        Q_EMIT(this->*changed)();
    }
    void setScanning(bool scanning);
    void configureDeferredState();
    bool observeArrivals(const QList<Photo>& photos);
    void rebuildWatcher();
    void tick(double fallbackInterval);
    void applyScan(int generation, const QList<Photo>& photos, const QStringList& errors,
                   std::chrono::steady_clock::time_point scanned);
    void applyThumbnails(int generation, const QList<Photo>& indexed);
    void reportPlacementFailure(const Error& error, bool compare);
    void clearStalePlacementError();
    // Publishes what a placement write that may change nothing did; false when it failed.
    bool applyPlacementWrite(const Result<bool>& changed);
    void dropNewestUndo();
    void dropNewestRedo();
    void undoCopy(const RopeHistoryEntry::Copy& entry);
    void undoMove(const RopeHistoryEntry::Move& entry);
    void undoTrash(const RopeHistoryEntry::Trash& entry);
    void redoMove(const RopeHistoryEntry& entry, const RopeHistoryEntry::Move& move);
    void redoTrash(const RopeHistoryEntry& entry, const RopeHistoryEntry::Trash& trash);
    // `thumbnails`: pictures already drawn for some of the files, by standardized path.
    // `cancelled`, once set, keeps files whose preparation has not begun out of the import.
    void runImport(const QStringList& paths, double x, const QHash<QString, PhotosOrigin>& origins,
                   bool requireAll, const QHash<QString, QImage>& thumbnails, ImportCompletion completion,
                   DropCancellation cancelled = {});
    void commitImport(const QList<ExhibitionReference>& prepared, const QStringList& paths, double x,
                      bool requireAll, const ImportCompletion& completion);
    void failImport(const Error& error, const ImportCompletion& completion);
    void importStep(ExhibitionImportStep step) const;
    // Removes what imports and copies recorded as created and never committed, unless an
    // exhibition item refers to it. Only while no journal is pending.
    void removeOrphanImports();
    // The record of the running import or copy, opened by the first step that writes.
    Result<std::shared_ptr<LeftoverTemporaries::Record>> importRecord();
    // A committed import lets go of its record; any other end also removes what it wrote.
    void endImportRecord(bool committed);
    void installPegMoveSeams();
    void installCopySeams();
    void createPhotoCopies(const QList<Photo>& photos, double x, RopeHistoryRecording recording,
                           CopiesCreated completion);
    void finishDuplicates(const QList<Photo>& sources, const QStringList& paths,
                          const QList<QByteArray>& digests, const std::optional<Error>& error, double x,
                          RopeHistoryRecording recording, const CopiesCreated& completion);
    void recycleUndoneCopies(const QList<CopyUndoRecord>& records,
                             RopeActionSeams::CopiesRecycled completion);
    void finishCopyRecycling(const QList<CopyUndoRecord>& records, const QList<Photo>& recycling,
                             const QList<Photo>& succeeded, const QHash<QString, QString>& failed,
                             const RopeActionSeams::CopiesRecycled& completion);
    bool keptCopiesIntact(const QList<CopyUndoRecord>& kept) const;
    void redoPhotoCopies(const QList<CopyUndoRecord>& records, double x);
    void finishCopyRedo(const QList<CopyUndoRecord>& records, const QList<CopyUndoRecord>& kept, double x,
                        bool ok, const QList<CopyUndoRecord>& created);
    Status checkPegPhotos(const QList<Photo>& photos) const;
    void confirmTrashAfterAccess(const QList<Photo>& photos);
    QList<RopeTrashedItem> restoreTrashedItems(const QList<RopeTrashedItem>& items);
    void finishTrashRestore(bool imported, const QList<RopeTrashedItem>& items,
                            const std::optional<QString>& message);
    void installTrashDefaults();

    std::unique_ptr<ClotheslineChrome> m_chrome;
    QList<Photo> m_photos;
    bool m_clotheslineMode = true;
    bool m_emptyClotheslineRequested = false;
    std::optional<QString> m_errorMessage;
    bool m_scanning = false;
    std::unique_ptr<UsageHistory> m_interactions;
    std::unique_ptr<UsageHistory> m_lineHistory;
    std::unique_ptr<ClotheslinePlacementStore> m_placements;
    std::unique_ptr<ExhibitionStore> m_exhibition;
    std::shared_ptr<LeftoverTemporaries::Record> m_importRecord;
    // The running drop's, while it saves its files.
    std::shared_ptr<std::atomic<bool>> m_dropCancellation;
    bool m_importing = false;
    bool m_exhibitionBlocked = false;
    std::optional<QString> m_placementError;
    std::optional<QString> m_lineError;
    // The photos both histories last took in whole; absent until then or after a failure.
    std::optional<QList<Photo>> m_observedPhotos;
    RecycleCopiedFiles m_recycleCopiedFiles;
    RecycleDeletedPhotos m_recycleDeletedPhotos;
    QList<RopeHistoryEntry> m_undoHistory;
    QList<RopeHistoryEntry> m_redoHistory;
    QSet<QString> m_usedCopyIDs;
    std::uint64_t m_takeDownUndoGeneration = 0;
    std::optional<QString> m_actionError;
    QSet<QString> m_selectedIDs;
    bool m_selectionMode = false;
    int m_selectionRequest = 0;
    std::optional<QString> m_selectionAnchorID;
    std::optional<QString> m_keyboardRevealID;
    bool m_deleting = false;
    int m_copiedCount = 0;
    bool m_establishBaseline = false;
    PhotosAccessStatus m_photosAccessStatus;
    RequestPhotosAccess m_requestPhotosAccess;
    ExplainPhotosAccessDenied m_explainPhotosAccessDenied;
    int m_arrivalRevision = 0;
    QSet<QString> m_latestArrivalIDs;
    std::unique_ptr<Indexer> m_indexer;
    std::unique_ptr<SerialQueue> m_queue;
    QTimer* m_timer = nullptr;
    std::unique_ptr<FolderWatcher> m_watcher;
    bool m_refreshPending = false;
    bool m_scanInFlight = false;
    bool m_pendingFullRefresh = false;
    bool m_pendingShowProgress = false;
    QList<FolderChange> m_pendingChanges;
    bool m_watcherBuildPending = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastReconciliation;
    int m_sourceGeneration = 0;
    int m_watcherGeneration = 0;
    QList<SourceRoot> m_configuredRoots;
    PhotosDecision m_authorizeTrash;
    PhotosDecision m_requestTrashConfirmation;
    QHash<QString, Photo> m_pendingTrashTakeDown;
    PhotosDecision m_requestPhotoCopyConfirmation;
    TrashFailureAlert m_trashFailureAlert;
    ShowItemProperties m_showItemProperties;
    // Properties requests, several at a time.
    std::unique_ptr<WorkQueue> m_propertiesQueue;
    Options m_options;
    std::chrono::nanoseconds m_lastApplyLatency{0};
    // The number of the newest thumbnail update sent from the index queue: each one carries the
    // whole library, so those a newer one overtook are not applied.
    std::shared_ptr<std::atomic<std::uint64_t>> m_latestThumbnailUpdate =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    int m_appliedScanCount = 0;
    // Builds watchers off the main thread.
    std::unique_ptr<WorkQueue> m_watcherBuildQueue;
    RopeActionSeams m_ropeActionSeams;
    DeferredStateAlert m_deferredStateAlert = [](const Error&) { return DeferredStateExitChoice::cancel; };
    SpaceKeyLaunchSeams m_spaceKeyLaunch = SpaceKeyLaunchSeams::standard();
};

} // namespace vennimo
