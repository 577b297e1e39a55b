#pragma once

#include "core/Photo.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

// Answers a file manager that took a peg drop on one of its folders: the originals of every
// photo of the drag move there once (through the model, which records the move for undo), and
// each item of the drop learns the name its file now has. The drop target names the folder with
// a URI of its own choosing, so nothing moves unless that URI is a plain local folder outside
// the storage folder.
class PegFolderDelivery {
public:
    // Moves the photos' files as one undoable change into a folder, given by its path and the
    // descriptor it was checked through; the new names, or nothing.
    using Mover = std::function<std::optional<QStringList>(const QList<Photo>& photos, const QString& folder,
                                                           int folderDescriptor)>;

    // A destination folder as it was checked: what is moved goes through the descriptor.
    struct Destination {
        QString path;
        std::shared_ptr<FileDescriptor> descriptor;
    };

    static constexpr qsizetype kMaxUriBytes = 4096;

    // Asked, once, to put the photos in the Trash after the user confirms it.
    using Trasher = std::function<void(const QList<Photo>& photos)>;

    PegFolderDelivery(QList<Photo> photos, QString storageFolder, Mover mover);
    void setTrasher(Trasher trasher) { m_trasher = std::move(trasher); }

    // What a destination URI is to a drop: a Trash takes the photos the way the application
    // trashes them, never as plain files moved in; a place that only looks like one is refused.
    enum class DestinationKind { folder, trash, refused };
    struct Judgement {
        DestinationKind kind = DestinationKind::folder;
        QString error; // why a place is refused
    };
    // A "trash:" URI (a file manager's Trash view), the home Trash, or the Trash folder of a
    // volume at its top ("<top>/.Trash-<uid>", "<top>/.Trash/<uid>") that passes the checks a
    // delete makes of it. The path counts as the target named it: a folder that is or passes
    // through a link with such a name is refused, and the same names anywhere else are folders.
    static Judgement judgeDestination(const QByteArray& uri);
    static bool isTrashDestination(const QByteArray& uri) {
        return judgeDestination(uri).kind == DestinationKind::trash;
    }

    // The folder a destination URI names, or nothing when it is refused: not an absolute local
    // "file:" URI, another host, ".." segments, over 4 KiB, a folder that does not exist, or the
    // storage folder or a folder inside it.
    static std::optional<QString> destinationFolder(const QByteArray& uri, const QString& storageFolder);
    // The same, with the folder opened once (a folder, not a link to one) and checked through
    // the descriptor it stays open on.
    static std::optional<Destination> openDestination(const QByteArray& uri, const QString& storageFolder);

    // The delivered names, one per photo; a second folder never moves them again, and once the
    // Trash was asked for them no folder does.
    std::optional<QStringList> deliver(const Destination& folder);
    // The exchange of one drop item: the destination URI as the target wrote it; "S" after the
    // move, "E" for anything refused and for the Trash, where nothing lies until the user
    // confirms. A drop has one outcome: the first of a move and the Trash holds.
    QByteArray answer(const QByteArray& uri);

    bool cancelled() const { return m_cancelled; }
    void setCancelled(bool cancelled) { m_cancelled = cancelled; }
    const QList<Photo>& photos() const { return m_photos; }
    // Why the last answer was "E", for the user; empty after a success.
    const QString& lastError() const { return m_lastError; }

private:
    QList<Photo> m_photos;
    QString m_storageFolder;
    Mover m_mover;
    Trasher m_trasher;
    bool m_trashAsked = false;
    bool m_cancelled = false;
    struct Result {
        QString folder;
        QStringList names;
    };
    std::optional<Result> m_result;
    QString m_lastError;
};

} // namespace vennimo
