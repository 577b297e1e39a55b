#pragma once

#include "core/ClotheslinePlacementStore.h"
#include "core/ExhibitionJournal.h"
#include "core/ExhibitionReference.h"
#include "core/Indexer.h"
#include "core/PegReturnIntent.h"
#include "core/Photo.h"
#include "core/UsageHistory.h"
#include "platform/LeftoverTemporaries.h"
#include "platform/Result.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

inline constexpr auto kExhibitionFileName = "exhibition.json";
inline constexpr auto kExhibitionThumbnailFolder = "exhibition-thumbnails";

// The photos that hang on the rope without coming from a source folder. Loading never drops an
// entry: whether one still stands for its file is decided where it is used. A store that cannot
// read its file keeps the reason in loadError and refuses every change.
class ExhibitionStore {
public:
    // Writes a JPEG thumbnail of the image at `source` to `target`; a missing thumbnail is no
    // error for the exhibition.
    using ThumbnailMaker = std::function<void(const QString& source, const QString& target)>;

    explicit ExhibitionStore(QString storage);
    ~ExhibitionStore();
    ExhibitionStore(const ExhibitionStore&) = delete;
    ExhibitionStore& operator=(const ExhibitionStore&) = delete;

    // The error every store throws in the exhibition's domain.
    static Error failure(const QString& message);
    // A regular file (no symbolic link) whose name passes the shared image rule.
    static bool isImageFile(const QString& path);
    // The state files a journal commit carries, in name order.
    static const QStringList& files() { return ExhibitionJournal::files(); }
    // Applies a journal left in the storage folder: checks its members, carries out a pending
    // peg return, writes the files and removes the journal. Answers the peg return's messages.
    // On any error the journal stays for the next attempt.
    static Result<QStringList> recover(const QString& storage,
                                       const PegReturnIntent::DidReturn& didReturn = {},
                                       const JournalStepHook& hook = {});

    const QString& storage() const { return m_storage; }
    const ExhibitionReferences& references() const { return m_references; }
    const std::optional<QString>& loadError() const { return m_loadError; }

    bool contains(const Photo& photo) const;
    // Exhibition photos and the indexed photos they do not hide, newest added first, then path.
    QList<Photo> merged(const QList<Photo>& indexed) const;
    Status remove(const QList<Photo>& photos);
    // Image files as references ready for a commit; unusable paths are left out. `existing` gives
    // an earlier item's added date and origin. The store itself is never read, so a queue can
    // prepare against a copy of the references taken on the main thread while the store changes.
    // Each thumbnail goes into `record` before it is drawn. `leaveOut` is asked about each file
    // before its work begins, from any thread: a file it answers true for is left out (an import
    // cut short). Once begun, a file is finished and prepared.
    static QList<ExhibitionReference> prepare(const QString& storage, const ExhibitionReferences& existing,
                                              const QStringList& paths, const ThumbnailMaker& makeThumbnail,
                                              const QHash<QString, PhotosOrigin>& origins = {},
                                              LeftoverTemporaries::Record* record = nullptr,
                                              const std::function<bool(const QString&)>& leaveOut = {});
    // Draws thumbnails the way the index draws its own, each within the room decodings share
    // (WorkingRoom). A file `leaveOut` answers true for, from any thread, stops being read and
    // gets none; the process's end stops them all.
    static ThumbnailMaker thumbnailMaker(const Indexer& indexer,
                                         const std::function<bool(const QString&)>& leaveOut = {});
    // The same against this store's references: main thread only.
    QList<ExhibitionReference> prepare(const QStringList& paths, const ThumbnailMaker& makeThumbnail,
                                       const QHash<QString, PhotosOrigin>& origins = {}) const;
    QList<ExhibitionReference> prepare(const QStringList& paths, const Indexer& indexer,
                                       const QHash<QString, PhotosOrigin>& origins = {}) const;
    // Hangs prepared references side by side from rope position `at`, in front of every print,
    // changing the exhibition, the line history and the placements together through the
    // journal. Refused while an earlier journal is left. The stores in memory are left as they
    // were: the caller loads fresh ones.
    Status commit(const QList<ExhibitionReference>& references, double at, UsageHistory& line,
                  ClotheslinePlacementStore& positions, const JournalStepHook& hook = {});

private:
    void load();

    QString m_storage;
    ExhibitionReferences m_references;
    std::optional<QString> m_loadError;
    QStringList m_scopes;
};

} // namespace vennimo
