#pragma once

#include "core/Photo.h"
#include "grid/GridThumbnailCell.h"

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QPainter;
class QPalette;

namespace vennimo {

class GalleryModel;

// One cell of the photo grid: the thumbnail on a rounded field with its border, the file name
// under it, and the selection badge while selection mode is on. The card keeps no state: the
// grid draws it from the model each time, and its actions go straight to the model.
class PhotoCard {
public:
    static constexpr double kPadding = 3;
    static constexpr double kThumbnailHeight = 180;
    static constexpr double kThumbnailImagePadding = 8;
    static constexpr double kCornerRadius = 8;
    static constexpr double kSpacing = 6;
    static constexpr double kNamePadding = 2;
    static constexpr double kNamePixels = 12;
    static constexpr double kSelectedBorder = 3;
    static constexpr double kBorder = 1;
    static constexpr double kBorderOpacity = 0.08;
    static constexpr double kBadgeSize = 20;
    static constexpr double kBadgePadding = 10;

    // What the card's pointer surface needs to know of the model.
    struct Flags {
        // The photo hangs on the rope: the menu offers to take it down.
        bool unused = false;
        bool photoActionsEnabled = true;
        bool previewEnabled = true;
        bool operator==(const Flags&) const = default;
    };
    // What the card shows of the photo's state.
    struct Look {
        bool selected = false;
        bool selectionMode = false;
    };
    // The context menu's actions.
    struct MenuActions {
        std::function<void()> preview;
        std::function<void()> copy;
        std::function<void()> reveal;
        std::function<void()> open;
        std::function<void()> toggleUsage;
    };

    PhotoCard() = delete;

    static Flags flags(GalleryModel& model, const Photo& photo);
    static QFont nameFont();
    // The card's whole height: padding, thumbnail, spacing, one line of the name, padding.
    static double height();
    static QRectF thumbnailRect(const QRectF& card);
    static QRectF nameRect(const QRectF& card);
    static QRectF badgeRect(const QRectF& card);
    // Where a picture of this size lies in the thumbnail: fitted, inside its padding.
    static QRectF imageRect(const QRectF& thumbnail, QSizeF imageSize);

    // `thumbnail` is already scaled to imageRect(); `name` already elided to the name's width.
    static void paint(QPainter& painter, const QRectF& card, const QPalette& palette, const Look& look,
                      const GridThumbnailCell::Face& face, const QImage& thumbnail, const QString& name,
                      const Photo& photo);

    // "已选，" or "未选，" in selection mode, then the name, "，" and the source.
    static QString accessibilityLabel(const Photo& photo, const Look& look);
    // Preview, copy, reveal, open, then hang or take down, enabled by the flags.
    static std::unique_ptr<QMenu> contextMenu(const Flags& flags, const MenuActions& actions);

    // The card's actions on the model.
    // Copies the whole selection when the card was selected in selection mode, else the photo.
    static void copy(GalleryModel& model, const Photo& photo, bool selectedWhenBuilt);
    // Opens the file with its default application; only an open that worked counts as a use.
    static void open(GalleryModel& model, const Photo& photo,
                     const std::function<bool(const QString&)>& opener);
    // Takes a hanging photo down or hangs a taken-down one; anything else is hung.
    static void toggleUsage(GalleryModel& model, const Photo& photo);
};

} // namespace vennimo
