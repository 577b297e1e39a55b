#pragma once

#include "core/Photo.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QMessageBox;
class QPushButton;
class QWidget;

namespace vennimo {

// The question asked before any delete: what goes where, with small pictures of the photos.
class TrashConfirmation {
public:
    struct Text {
        QString title;
        QString destination;
        std::optional<QString> note;

        bool operator==(const Text&) const = default;
    };
    struct Preview {
        QImage image;
        QString accessibleDescription;
    };

    static constexpr int kPreviewPixels = 256;
    static constexpr int kStripThumbnails = 3;

    static Text text(const QList<Photo>& photos);
    // The alert for a non-empty list; its first button confirms, Return and Escape cancel. Its
    // pictures are read off the main thread and replace a drawn photo symbol once read.
    static std::unique_ptr<QMessageBox> makeAlert(const QList<Photo>& photos, QWidget* parent = nullptr);
    // The thumbnail, else the file itself, scaled down; a drawn photo symbol when neither reads.
    // Reads files: never on the main thread, which it would hold for the whole reading. Given up
    // once `stop` answers true.
    static Preview preview(const Photo& photo, const std::function<bool()>& stop = {});
    static QPushButton* confirmButton(const QMessageBox& alert);
    // Runs the alert modally; true when the user chose to delete.
    static bool run(const QList<Photo>& photos, QWidget* parent = nullptr);
};

} // namespace vennimo
