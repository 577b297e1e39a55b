#pragma once

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

class PegFolderDelivery;

// The data of a peg drag handed to the system: it offers only the X Direct Save promise, so a
// file manager that takes the drop tells us its folder and leaves the moving to us (with a file
// list beside it, it would copy or move the file itself and we would never learn where). The
// suggested name goes on the window that owns the drag's selection; the target writes the URI of
// the file it wants there and asks for the promise, and the answer is "S" once the originals lie
// in that folder, else "E".
class PegDirectSaveMimeData : public QMimeData {
public:
    static constexpr auto kSelection = "XdndSelection";
    // The answer and, for "E", why, in the user's words (empty when the drag was cancelled).
    using Answered = std::function<void(const QByteArray& answer, const QString& error)>;

    PegDirectSaveMimeData(QStringList ids, QString suggestedName, std::shared_ptr<PegFolderDelivery> delivery,
                          Answered answered);
    ~PegDirectSaveMimeData() override;

    const QStringList& ids() const { return m_ids; }
    const QString& suggestedName() const { return m_suggestedName; }
    const std::shared_ptr<PegFolderDelivery>& delivery() const { return m_delivery; }

    // Puts the suggested name on the drag's selection owner once the drag runs; false until the
    // owner is a window of ours (before the drag loop has started, or off X11).
    bool offerName();
    // The target's answer for a destination URI as the target wrote it: the folder is the URI
    // without its last segment (the suggested name).
    QByteArray answerFor(const QByteArray& fileUri);
    // The folder part of a file URI the target wrote, after a trailing NUL is dropped.
    static QByteArray folderUri(const QByteArray& fileUri);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QStringList m_ids;
    QString m_suggestedName;
    std::shared_ptr<PegFolderDelivery> m_delivery;
    Answered m_answered;
    std::optional<unsigned> m_window;
};

} // namespace vennimo
