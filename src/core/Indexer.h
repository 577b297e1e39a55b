#pragma once

#include "core/FolderChange.h"
#include "core/PathRules.h"
#include "core/Photo.h"
#include "core/PhotoRecordIndex.h"
#include "core/SourceRootIndex.h"
#include "platform/FileIdentity.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace vennimo {

// The library index: one Photo per image file below the source folders, kept as a Library and
// stored as "index.json" in the storage folder, with a JPEG thumbnail per photo in "thumbnails".
// Not synchronised: construction, scans, reconfiguration and all thumbnail bookkeeping run on
// one serial queue of the caller's ("local.vennimo.index"); only the renderings run elsewhere.
// That queue must outlive the indexer.
class IndexFileWriter;

class Indexer {
public:
    using ThumbnailRenderer = std::function<void(const QString& source, const QString& destination)>;
    using ThumbnailUpdate = std::function<void(const QList<Photo>&)>;

    // The back-off record of a photo whose thumbnail could not be made.
    struct ThumbnailFailure {
        QString version{};
        int attempts = 0;
        double retryAfter = 0; // seconds since 2001

        bool operator==(const ThumbnailFailure&) const = default;
    };

    static constexpr int kMaxThumbnailPixels = 720;
    static constexpr int kJpegQualityPercent = 85;
    static constexpr int kMaxPendingThumbnails = 4;
    static constexpr int kThumbnailQueueWidth = 2;
    // Renderings waiting aside for the large pictures' turn, beyond the pending ones: they hold
    // no worker and no memory, and ordinary photos go on past them.
    static constexpr int kMaxThumbnailsAside = 64;
    // Folders a walk lists at once.
    static constexpr int kWalkWidth = 4;
    // Candidates one turn of the thumbnail walk looks at before it lets other work of the queue run.
    static constexpr int kThumbnailChecksPerTurn = 512;
    static constexpr std::chrono::milliseconds kPublicationDelay{100};
    static constexpr double kFirstRetrySeconds = 30;
    static constexpr int kMaxRetryDoublings = 7;
    static constexpr double kMaxRetrySeconds = 3600;
    // Far above the index of millions of photos; a larger state file is not one the index wrote.
    static constexpr qint64 kMaxIndexBytes = 2LL * 1024 * 1024 * 1024;

    Indexer(const QList<SourceRoot>& roots, const QString& storage);
    ~Indexer();
    Indexer(const Indexer&) = delete;
    Indexer& operator=(const Indexer&) = delete;

    // New source roots; roots not known before are imported as a baseline by the next scan.
    void reconfigure(const QList<SourceRoot>& roots);
    // No change list means a full scan. Returns the photos newest first.
    QList<Photo> scan(const std::optional<QList<FolderChange>>& changes, bool generateThumbnails);
    // Starts background thumbnails; `queue` is the serial queue the scans run on, where every
    // completion and `onUpdate` run too.
    void prepareThumbnails(WorkQueue* queue, ThumbnailUpdate onUpdate);
    // Any thread, for the way out: a scan under way ends at its next folder as if it had not
    // run (the library, and what is owed to "index.json", stay what the last whole scan made),
    // and no scan or thumbnail starts from then on. Renderings under way stop at their next read
    // of the photo and write nothing.
    void stop();
    // Also once the process announced its end: what the indexer would do then is thrown away.
    bool stopped() const { return m_stopped.load(std::memory_order_relaxed) || ProcessExit::announced(); }

    // Writes a JPEG of at most 720 px to `destination`, or leaves nothing there. `cancelled` can
    // cut short a desktop thumbnailer it has to run; once `abandoned` answers true the reading of
    // the source stops too, and nothing is written.
    static void makeThumbnail(const QString& source, const QString& destination,
                              const std::function<bool()>& cancelled = {},
                              const std::function<bool()>& abandoned = {});
    // JPEG at quality 0.85; the destination only ever holds a complete file.
    static bool save(const QImage& image, const QString& destination);
    // Identity, birth, modification date, size and path of a photo: any change makes a new one.
    static QString thumbnailVersion(const Photo& photo);
    static double retryDelaySeconds(int attempts);

    const QList<SourceRoot>& roots() const { return m_roots; }
    const QString& storage() const { return m_storage; }
    const Library& library() const { return m_library; }
    void setLibrary(Library library);
    const QStringList& errors() const { return m_errors; }
    void setErrors(QStringList errors) { m_errors = std::move(errors); }
    const std::map<QString, ThumbnailFailure>& thumbnailFailures() const { return m_thumbnailFailures; }
    int pendingThumbnailCount() const { return static_cast<int>(m_pendingThumbnails.size()); }
    // A save is owed: scheduled, being written or failed.
    bool libraryNeedsSave() const;
    // "index.json" is written off the scans' path, at most once a second and at the latest when
    // the indexer goes away; this writes what is owed now and reports a failure in `errors`.
    void flushIndex();
    void setIndexWriteInterval(std::chrono::milliseconds interval);
    // Readies the next change-driven scan once a scan's photos went out: the library gets a list
    // of its own again, so that the next change edits it in place rather than copying it, and
    // its records are indexed. Costs a pass over the library; call it off the path of a result.
    void prepareForChanges();
    int thumbnailCandidateChecks() const { return m_thumbnailCandidateChecks; }
    int lastScanVisitedEntries() const { return m_lastScanVisitedEntries; }
    int scanCount() const { return m_scanCount; }
    int thumbnailAttemptCount() const { return m_thumbnailAttemptCount; }
    const ThumbnailRenderer& thumbnailRenderer() const { return m_thumbnailRenderer; }
    void setThumbnailRenderer(ThumbnailRenderer renderer) { m_thumbnailRenderer = std::move(renderer); }
    // Test seam: the errno with which opening a folder during a scan fails (0 opens it).
    void setFolderOpenFaultForTesting(std::function<int(const QString& folder)> fault) {
        m_folderOpenFault = std::move(fault);
    }

    QString indexPath() const;
    QString thumbnailFailuresPath() const;
    QString thumbnailFolder() const;

private:
    struct RootScan;
    struct FolderWalk;
    struct FolderWalkNode;
    // The places awaiting their baseline, by the position of the root that owns them.
    using PendingBaseline = QHash<int, QStringList>;

    int owningRoot(const QString& path) const;
    // The changed paths a change-driven scan of the root looks at, nested ones folded into the
    // shortest that covers them.
    QStringList changeTargets(int rootIndex, const QList<FolderChange>& changes) const;
    // A change-driven scan that edits the library in place; nothing, having done nothing, when
    // the change needs the whole library looked at.
    std::optional<QList<Photo>> scanChanges(const QList<FolderChange>& changes, bool generateThumbnails,
                                            double scanTime);
    // What a stopped scan hands back: the library as the scan found it, with the bookkeeping the
    // scan had changed put back.
    QList<Photo> abandonScan(const QSet<QString>& baselineRoots,
                             const QHash<QString, QStringList>& sourceErrors);
    // False, with the root's error set, when the root cannot be listed.
    bool rootReadable(const SourceRoot& root);
    // Gives the library a photo list that no one else holds.
    void takeLibraryBack();
    // Baseline and errors of a root after its targets were scanned.
    void settleRoot(const RootScan& scan, const QStringList& targets, PendingBaseline& pending);
    bool isInStorage(const QString& path) const;
    void scanTarget(RootScan& scan, const QString& target);
    void enumerate(RootScan& scan, const QString& folder);
    // One folder of a walk: its files inspected into `part`, the subfolders to walk named in the
    // order met. Safe on several threads at once, each with its own `part`.
    void listFolder(RootScan& part, const QString& folder, bool first, QStringList& subfolders);
    void listWalkFolder(const std::shared_ptr<FolderWalk>& walk, FolderWalkNode* node);
    int folderOpenFault(const QString& folder);
    WorkQueue& walkQueue();
    // Takes in what a share of a walk found.
    void absorb(RootScan& scan, RootScan& part);
    // `ownerKnown`: the path's folder was already found to belong to this root. `name` is the
    // entry's name in the open folder `dirfd` (or the whole path with AT_FDCWD).
    void inspect(RootScan& scan, const QString& path, bool ownerKnown, int dirfd, const char* name);
    PendingBaseline pendingBaseline() const;
    // The root's pending places below it, not the root itself.
    QStringList baselinePathsBelow(const PendingBaseline& pending, int rootIndex) const;
    void settleBaseline(const RootScan& scan, const QStringList& targets, PendingBaseline& pending);
    void skipUndecodableName(const QString& folder, const char* name);
    void updateErrors();
    void saveLibrary();
    void takeIndexWriteOutcome();
    void removeStaleThumbnails(const QList<Photo>& photos, const QSet<QString>& listed) const;
    void loadThumbnailFailures();
    // A state file's bytes; one that exists but cannot be read (or is too large) is renamed to
    // "<name>.corrupt" so that the next save does not replace it.
    static std::optional<QByteArray> readStateOrSetAside(const QString& path);

    void rebuildThumbnailPlanIfNeeded();
    void refillThumbnails();
    void completeThumbnail(const Photo& photo, const QString& temporary, const QString& version);
    void publishThumbnails();
    QString thumbnailPathFor(const Photo& photo) const;
    // The place of the record with this id in the library, or -1.
    qsizetype thumbnailPosition(const QString& id) const;
    bool shouldMakeThumbnail(const Photo& photo) const;
    static bool thumbnailSourceMatches(const Photo& photo);
    void recordThumbnailResult(const Photo& photo, bool succeeded);
    void writeThumbnailFailures() const;

    QList<SourceRoot> m_roots;
    SourceRootIndex m_rootIndex;
    QSet<QString> m_baselineRoots;
    QString m_storage;
    QString m_storageKey;
    QString m_storageCanonicalKey;
    Library m_library;
    PhotoRecordIndex m_recordIndex;
    // The library is what a scan made of it, under the current roots.
    bool m_libraryScanned = false;
    QStringList m_errors;
    QHash<QString, QStringList> m_sourceErrors;
    std::optional<QString> m_indexSaveError;
    std::unique_ptr<IndexFileWriter> m_indexWriter;
    std::map<QString, ThumbnailFailure> m_thumbnailFailures;
    QHash<QString, QString> m_pendingThumbnails;
    // The pending ones waiting aside for their turn.
    QSet<QString> m_thumbnailsAside;
    // The walk: the library's records in order, then the ids of renderings that went stale.
    qsizetype m_thumbnailPlanSize = 0;
    QStringList m_thumbnailCandidates;
    qsizetype m_thumbnailCursor = 0;
    bool m_thumbnailPlanNeedsRebuild = true;
    int m_thumbnailCandidateChecks = 0;
    bool m_thumbnailPublicationDue = false;
    bool m_thumbnailWalkResumeQueued = false;
    ThumbnailUpdate m_thumbnailUpdate;
    WorkQueue* m_callerQueue = nullptr;
    int m_lastScanVisitedEntries = 0;
    int m_scanCount = 0;
    int m_thumbnailAttemptCount = 0;
    ThumbnailRenderer m_thumbnailRenderer;
    std::function<int(const QString&)> m_folderOpenFault;
    // Read by the walk's and the renderings' threads.
    std::atomic<bool> m_stopped{false};
    QSet<QByteArray> m_undecodableNames;
    // Completions queued on the caller's queue check it, so none runs after destruction.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
    std::unique_ptr<WorkQueue> m_thumbnailQueue;
    // Lists the folders of a walk side by side; made by the first walk.
    std::unique_ptr<WorkQueue> m_walkQueue;
};

} // namespace vennimo
