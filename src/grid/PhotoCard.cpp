#include "grid/PhotoCard.h"

#include "grid/GridSymbol.h"
#include "model/GalleryModel.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace vennimo {

PhotoCard::Flags PhotoCard::flags(GalleryModel& model, const Photo& photo) {
    Flags flags;
    flags.unused = model.hangs(photo);
    flags.photoActionsEnabled = !model.isBusy();
    flags.previewEnabled = !model.deleting();
    return flags;
}

QFont PhotoCard::nameFont() {
    return ClotheslineToolbarButtonStyle::font(kNamePixels, QFont::Medium);
}

double PhotoCard::height() {
    static const double line = std::ceil(QFontMetricsF(nameFont()).height());
    return kPadding + kThumbnailHeight + kSpacing + line + kPadding;
}

QRectF PhotoCard::thumbnailRect(const QRectF& card) {
    return {card.left() + kPadding, card.top() + kPadding, card.width() - 2 * kPadding, kThumbnailHeight};
}

QRectF PhotoCard::nameRect(const QRectF& card) {
    const QRectF thumbnail = thumbnailRect(card);
    const double top = thumbnail.bottom() + kSpacing;
    return {thumbnail.left() + kNamePadding, top, thumbnail.width() - 2 * kNamePadding,
            card.bottom() - kPadding - top};
}

QRectF PhotoCard::badgeRect(const QRectF& card) {
    const QRectF thumbnail = thumbnailRect(card);
    return {thumbnail.right() - kBadgePadding - kBadgeSize, thumbnail.top() + kBadgePadding, kBadgeSize,
            kBadgeSize};
}

QRectF PhotoCard::imageRect(const QRectF& thumbnail, QSizeF imageSize) {
    const QRectF area = thumbnail.adjusted(kThumbnailImagePadding, kThumbnailImagePadding,
                                           -kThumbnailImagePadding, -kThumbnailImagePadding);
    if (imageSize.isEmpty() || area.isEmpty())
        return area;
    const QSizeF fitted = imageSize.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.center().x() - fitted.width() / 2, area.center().y() - fitted.height() / 2, fitted.width(),
            fitted.height()};
}

void PhotoCard::paint(QPainter& painter, const QRectF& card, const QPalette& palette, const Look& look,
                      const GridThumbnailCell::Face& face, const QImage& thumbnail, const QString& name,
                      const Photo& photo) {
    const QRectF field = thumbnailRect(card);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawRoundedRect(field, kCornerRadius, kCornerRadius);

    if (!thumbnail.isNull()) {
        // The picture keeps its padding inside the field, so the rounded corners never cut it.
        const QRectF target = imageRect(field, face.image.size());
        painter.setOpacity(face.opacity);
        painter.drawImage(target.topLeft(), thumbnail);
        painter.setOpacity(1);
    } else if (face.phase == GridThumbnailCell::Phase::failed) {
        const QFont caption = ClotheslineToolbarButtonStyle::font(11);
        const double symbol = 28;
        const double line = QFontMetricsF(caption).height();
        const double top = field.center().y() - (symbol + 6 + line) / 2;
        const QColor secondary = palette.color(QPalette::PlaceholderText);
        GridSymbol::paint(painter, QStringLiteral("photo"), QRectF(field.left(), top, field.width(), symbol),
                          symbol, secondary);
        painter.setFont(caption);
        painter.setPen(secondary);
        painter.drawText(QRectF(field.left() + 8, top + symbol + 6, field.width() - 16, line),
                         Qt::AlignHCenter | Qt::AlignTop, GridThumbnailCell::failureText(photo));
    }

    // The border lies inside the field's outline.
    const double width = look.selected ? kSelectedBorder : kBorder;
    QColor stroke = palette.color(QPalette::Highlight);
    if (!look.selected) {
        stroke = palette.color(QPalette::WindowText);
        stroke.setAlphaF(kBorderOpacity);
    }
    painter.setPen(QPen(stroke, width));
    painter.setBrush(Qt::NoBrush);
    const double inset = width / 2;
    painter.drawRoundedRect(field.adjusted(inset, inset, -inset, -inset), kCornerRadius - inset,
                            kCornerRadius - inset);

    if (look.selectionMode) {
        const QRectF badge = badgeRect(card);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette.color(QPalette::Window));
        painter.drawEllipse(badge.adjusted(1, 1, -1, -1));
        GridSymbol::paint(
            painter, look.selected ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"),
            badge, kBadgeSize,
            look.selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::PlaceholderText));
    }

    painter.setFont(nameFont());
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(nameRect(card), Qt::AlignLeft | Qt::AlignVCenter, name);
}

QString PhotoCard::accessibilityLabel(const Photo& photo, const Look& look) {
    QString prefix;
    if (look.selectionMode)
        prefix = QString::fromUtf8(look.selected ? "已选，" : "未选，");
    return prefix + photo.name() + QString::fromUtf8("，") + photo.source;
}

std::unique_ptr<QMenu> PhotoCard::contextMenu(const Flags& flags, const MenuActions& actions) {
    auto menu = std::make_unique<QMenu>();
    const struct {
        const char* title;
        const std::function<void()>& run;
        bool enabled;
    } items[] = {
        {"查看大图", actions.preview, flags.previewEnabled},
        {"复制", actions.copy, flags.photoActionsEnabled},
        {"在文件管理器中显示", actions.reveal, true},
        {"用默认应用打开", actions.open, true},
        {flags.unused ? "从晾衣绳取下" : "挂到晾衣绳", actions.toggleUsage, flags.photoActionsEnabled},
    };
    for (const auto& item : items) {
        QAction* action = menu->addAction(QString::fromUtf8(item.title));
        action->setEnabled(item.enabled);
        if (item.run)
            QObject::connect(action, &QAction::triggered, action, item.run);
    }
    return menu;
}

void PhotoCard::copy(GalleryModel& model, const Photo& photo, bool selectedWhenBuilt) {
    if (selectedWhenBuilt && model.selectionMode())
        model.copySelection();
    else
        model.copy(photo);
}

void PhotoCard::open(GalleryModel& model, const Photo& photo,
                     const std::function<bool(const QString&)>& opener) {
    if (!opener || !opener(photo.path) || model.exhibitionBlocked())
        return;
    model.insertUsedCopyID(photo.recordKey());
    model.acknowledge({photo});
}

void PhotoCard::toggleUsage(GalleryModel& model, const Photo& photo) {
    UsageHistory& line = model.lineHistory();
    const bool hang = model.awaitsTrashTakeDown(photo) || !line.hasRecord(photo) || line.isUsed(photo);
    model.setHanging({photo}, hang, RopeHistoryRecording::record);
}

} // namespace vennimo
