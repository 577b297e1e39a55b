#include "dragdrop/PhotoDragPayload.h"

#include "core/PhotoIdentity.h"
#include "platform/ImageDecoder.h"
#include "rendering/GalleryThumbnailLoader.h"
#include "rendering/PhotoDimensions.h"
#include "rendering/PolaroidRenderer.h"

#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace vennimo {

namespace {

bool readable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

// A plain card with a small landscape on it, for a photo whose picture cannot be read.
QImage standIn() {
    QImage image(96, 72, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(236, 236, 240));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(150, 150, 160), 3));
    painter.drawRoundedRect(QRectF(image.rect()).adjusted(12, 10, -12, -10), 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 150, 160));
    QPainterPath hills;
    hills.moveTo(20, 56);
    hills.lineTo(40, 34);
    hills.lineTo(54, 48);
    hills.lineTo(62, 40);
    hills.lineTo(76, 56);
    hills.closeSubpath();
    painter.drawPath(hills);
    painter.drawEllipse(QPointF(64, 26), 5, 5);
    return image;
}

constexpr double kWindowEdgeTolerancePixels = 1e-3;

// The photo's window of its print's paper, when the rope has that drawn.
QImage printPicture(const Photo& photo, double scale) {
    const auto paper =
        PolaroidRenderer::cachedImage(photo, PolaroidRenderer::defaultSize, scale, PolaroidRenderer::kPaper);
    if (!paper || paper->isNull())
        return {};
    const PolaroidGeometry g = PolaroidRenderer::geometry(photo);
    const double ratio = paper->devicePixelRatio();
    const QRectF shown = g.paperTransform.mapRect(g.imageRect);
    const QRectF pixels(shown.topLeft() * ratio, shown.size() * ratio);
    // Whole pixels inside the window only: a pixel at its edge that it covers in part shows the
    // paper around it, a light line along the picture. A hair's breadth of arithmetic is no part.
    const int left = int(std::ceil(pixels.left() - kWindowEdgeTolerancePixels));
    const int top = int(std::ceil(pixels.top() - kWindowEdgeTolerancePixels));
    const int right = int(std::floor(pixels.right() + kWindowEdgeTolerancePixels));
    const int bottom = int(std::floor(pixels.bottom() + kWindowEdgeTolerancePixels));
    const QRect window = QRect(left, top, right - left, bottom - top).intersected(paper->rect());
    if (window.isEmpty())
        return {};
    QImage picture = paper->copy(window);
    picture.setDevicePixelRatio(1);
    return picture;
}

} // namespace

PhotoDragPayload::PhotoDragPayload(const QList<Photo>& photos) {
    QSet<QString> kept;
    for (const Photo& photo : photos) {
        if (kept.contains(photo.id))
            continue;
        if (!originalIdentityMatches(photo) || !readable(photo.path))
            continue;
        kept.insert(photo.id);
        m_photos.append(photo);
    }
}

QRectF PhotoDragPayload::fitted(QSizeF content, const QRectF& frame) {
    if (content.width() <= 0 || content.height() <= 0)
        return frame;
    const double scale = std::min(frame.width() / content.width(), frame.height() / content.height());
    const QSizeF size = content * scale;
    return QRectF(frame.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

QList<PhotoDragPayload::Item> PhotoDragPayload::makeItems(const QRectF& rect, double scale) const {
    QList<Item> items;
    for (qsizetype i = 0; i < m_photos.size(); ++i) {
        const Photo& photo = m_photos[i];
        QRectF card = rect;
        if (m_photos.size() > 1) {
            const double step = kPileStep * double(std::min<qsizetype>(i, kPileSteps));
            // Each card lies further right and further down, as a pile laid from the top-left;
            // y grows downward here.
            card = QRectF(rect.center().x() - kPileCardSize.width() / 2 + step,
                          rect.center().y() - kPileCardSize.height() / 2 + step, kPileCardSize.width(),
                          kPileCardSize.height());
        }
        QImage image = itemImage(photo, scale);
        // The picture in hand has the photo's shape: no header is read for it on this thread.
        const QSizeF shape = PhotoDimensions::knownSize(photo).value_or(QSizeF(image.size()));
        items.append(Item{photo, QUrl::fromLocalFile(photo.path), image, fitted(shape, card)});
    }
    return items;
}

std::unique_ptr<QMimeData> PhotoDragPayload::makeMimeData() const {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const Photo& photo : m_photos)
        urls.append(QUrl::fromLocalFile(photo.path));
    data->setUrls(urls);
    return data;
}

QImage PhotoDragPayload::itemImage(const Photo& photo, double scale) {
    if (auto shown = GalleryThumbnailLoader::shared().cachedImage(photo, scale); shown && !shown->isNull())
        return *shown;
    if (QImage shown = printPicture(photo, scale); !shown.isNull())
        return shown;
    // The index's own small JPEG in the storage folder: bounded, and written by this program.
    if (!photo.thumbnail.isEmpty())
        if (auto image = ImageDecoder::decodeScaled(photo.thumbnail, kMaxFileImagePixels);
            image.ok() && !image->isNull())
            return *image;
    return standIn();
}

PhotoDragPayload::Picture PhotoDragPayload::picture(const QList<Item>& items, double devicePixelRatio) {
    QRectF bounds;
    for (const Item& item : items)
        bounds |= item.frame;
    if (bounds.isEmpty())
        return {};
    const double ratio = std::max(devicePixelRatio, 1.0);
    const QRect whole = bounds.toAlignedRect();
    QImage image(whole.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const Item& item : items)
        painter.drawImage(item.frame.translated(-QPointF(whole.topLeft())), item.image);
    painter.end();
    return {image, QPointF(whole.topLeft())};
}

} // namespace vennimo
