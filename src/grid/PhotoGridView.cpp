#include "grid/PhotoGridView.h"

#include "grid/PhotoCard.h"
#include "grid/PhotoGridAccessible.h"
#include "model/GalleryModel.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "rendering/PolaroidRenderer.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

constexpr int kRowStep = 40;

} // namespace

PhotoGridView::PhotoGridView(GalleryModel& model, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_model(model) {
    PhotoGridAccessible::installFactory();
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setBackgroundRole(QPalette::Window);
    verticalScrollBar()->setSingleStep(kRowStep);
    m_fadeTimer.setInterval(16);
    connect(&m_fadeTimer, &QTimer::timeout, this, [this] {
        bool fading = false;
        for (GridThumbnailCell* cell : std::as_const(m_cells))
            fading = fading || cell->fading();
        if (!fading)
            m_fadeTimer.stop();
        viewport()->update();
    });
    m_bufferRelease.setSingleShot(true);
    m_bufferRelease.setInterval(kBufferLinger);
    connect(&m_bufferRelease, &QTimer::timeout, this, [this] { m_bands.releaseBuffer(); });
    m_scrollAnimation.setEasingCurve(QEasingCurve::OutQuad);
    connect(&m_scrollAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });
    // Selection and busy flags change how cards look.
    for (auto signal : {&GalleryModel::selectedIDsChanged, &GalleryModel::selectionModeChanged})
        connect(&m_model, signal, viewport(), qOverload<>(&QWidget::update));
}

PhotoGridView::~PhotoGridView() {
    for (GridThumbnailCell* cell : std::as_const(m_cells))
        cell->cancel();
}

void PhotoGridView::setThumbnailSource(GridThumbnailCell::Source source) {
    m_source = std::move(source);
    qDeleteAll(m_cells);
    m_cells.clear();
    syncCells();
}

void PhotoGridView::setPhotos(const QList<Photo>& photos) {
    m_photos = photos;
    m_indexByID.clear();
    m_indexByID.reserve(m_photos.size());
    for (int i = 0; i < m_photos.size(); ++i)
        m_indexByID.insert(m_photos.at(i).id, i);
    relayout();
    viewport()->update();
    Q_EMIT photosReplaced();
}

double PhotoGridView::displayScale() const {
    return std::max(1.0, devicePixelRatioF());
}

void PhotoGridView::relayout() {
    m_layout = PhotoGridLayout(viewport()->width(), PhotoCard::height(), int(m_photos.size()));
    const int range = std::max(0, int(std::ceil(m_layout.contentHeight())) - viewport()->height());
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, range);
    syncCells();
    followTop();
}

void PhotoGridView::syncCells() {
    const double top = verticalScrollBar()->value();
    const double pitch = m_layout.cardHeight + PhotoGridLayout::kRowGap;
    const auto [begin, end] =
        m_layout.range(top - kRowsAhead * pitch, top + viewport()->height() + kRowsAhead * pitch);
    const double scale = displayScale();
    QHash<QString, GridThumbnailCell*> kept;
    kept.reserve(end - begin);
    for (int i = begin; i < end; ++i) {
        const Photo& photo = m_photos.at(i);
        GridThumbnailCell* cell = m_cells.take(photo.id);
        if (!cell) {
            cell = new GridThumbnailCell(photo, scale, m_source, this);
            connect(cell, &GridThumbnailCell::changed, this, [this, cell] {
                if (cell->fading() && !m_fadeTimer.isActive())
                    m_fadeTimer.start();
                const auto it = m_indexByID.constFind(cell->photo().id);
                if (it != m_indexByID.constEnd())
                    viewport()->update(cardRectInViewport(*it).toAlignedRect());
            });
        } else {
            cell->setPhoto(photo, scale);
        }
        kept.insert(photo.id, cell);
        if (isVisible())
            cell->start();
    }
    // Cards that left the neighbourhood stop loading; the loader's cache keeps what they had.
    // Nothing of a cell is on the stack here: its signals only ask for a repaint.
    for (GridThumbnailCell* cell : std::as_const(m_cells))
        delete cell;
    m_cells = std::move(kept);
}

void PhotoGridView::followTop() {
    const bool atTop = verticalScrollBar()->value() <= kTopTolerance;
    if (atTop == m_atTop)
        return;
    m_atTop = atTop;
    Q_EMIT atTopChanged(atTop);
}

QRectF PhotoGridView::cardRectInViewport(int index) const {
    return m_layout.cardRect(index).translated(0, -verticalScrollBar()->value());
}

QRectF PhotoGridView::pictureRectInViewport(int index) const {
    const QRectF thumbnail = PhotoCard::thumbnailRect(cardRectInViewport(index));
    const Photo& photo = m_photos.at(index);
    const GridThumbnailCell* cell = m_cells.value(photo.id);
    const QImage image = cell ? cell->face().image : QImage();
    if (image.isNull())
        return PhotoCard::imageRect(thumbnail, PolaroidRenderer::imageSize(photo));
    // Drawn at its place rounded to the pixel, at the size it was scaled to (scaledKey).
    const QRectF target = PhotoCard::imageRect(thumbnail, image.size());
    const double scale = displayScale();
    return {std::round(target.x() * scale) / scale, std::round(target.y() * scale) / scale,
            std::round(target.width() * scale) / scale, std::round(target.height() * scale) / scale};
}

QRect PhotoGridView::cardRectOnScreen(int index) const {
    const QRectF card = cardRectInViewport(index);
    return QRectF(viewport()->mapToGlobal(card.topLeft()), card.size()).toAlignedRect();
}

std::optional<QString> PhotoGridView::currentPhotoID() const {
    const std::optional<QString>& anchor = m_model.selectionAnchorID();
    if (!anchor || !m_model.selectedIDs().contains(*anchor) || !m_indexByID.contains(*anchor))
        return std::nullopt;
    return anchor;
}

std::optional<Photo> PhotoGridView::photoAt(QPoint viewportPoint) const {
    const int index = m_layout.indexAt(QPointF(viewportPoint) + QPointF(0, verticalScrollBar()->value()));
    if (index < 0)
        return std::nullopt;
    return m_photos.at(index);
}

void PhotoGridView::scrollToPhoto(const std::optional<QString>& id) {
    m_scrollAnimation.stop();
    int target = 0;
    if (id) {
        const auto it = m_indexByID.constFind(*id);
        if (it != m_indexByID.constEnd())
            target = int(m_layout.rowTop(*it / m_layout.columns) - PhotoGridLayout::kPadding);
    }
    verticalScrollBar()->setValue(target);
}

void PhotoGridView::scrollToTop(std::chrono::milliseconds duration) {
    m_scrollAnimation.stop();
    m_scrollAnimation.setDuration(int(duration.count()));
    m_scrollAnimation.setStartValue(verticalScrollBar()->value());
    m_scrollAnimation.setEndValue(0);
    m_scrollAnimation.start();
}

void PhotoGridView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void PhotoGridView::scrollContentsBy(int dx, int dy) {
    syncCells();
    followTop();
    // The pixels already drawn move; only the strip that comes into view is painted.
    viewport()->scroll(dx, dy);
}

void PhotoGridView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    // Another screen may have another scale, and with it other thumbnail keys.
    if (QWindow* handle = window()->windowHandle(); handle && handle != m_screenWatched) {
        m_screenWatched = handle;
        connect(handle, &QWindow::screenChanged, this, [this] {
            m_scaled.clear();
            syncCells();
            viewport()->update();
        });
    }
    syncCells();
}

std::optional<PhotoGridView::Scaled> PhotoGridView::scaledKey(const GridThumbnailCell& cell,
                                                              const GridThumbnailCell::Face& face,
                                                              const QRectF& card) const {
    if (face.image.isNull())
        return std::nullopt;
    const QRectF target = PhotoCard::imageRect(PhotoCard::thumbnailRect(card), face.image.size());
    const double scale = displayScale();
    const QSize pixels(int(std::round(target.width() * scale)), int(std::round(target.height() * scale)));
    if (pixels.isEmpty())
        return std::nullopt;
    return Scaled{cell.key() + QLatin1Char('@') + QString::number(pixels.width()) + QLatin1Char('x') +
                      QString::number(pixels.height()) + QLatin1Char('/') +
                      QString::number(face.image.cacheKey()),
                  pixels};
}

QString PhotoGridView::elidedName(const Photo& photo, double width) {
    const int w = int(width);
    auto it = m_names.find(photo.id);
    if (it != m_names.end() && it->first == w)
        return it->second;
    const QString elided = QFontMetricsF(PhotoCard::nameFont()).elidedText(photo.name(), Qt::ElideMiddle, w);
    m_names.insert(photo.id, {w, elided});
    return elided;
}

void PhotoGridView::paintEvent(QPaintEvent* event) {
    // Everything a card needs is gathered here on the main thread; the bands only read it.
    struct Card {
        QRectF rect;
        const Photo* photo = nullptr;
        PhotoCard::Look look;
        GridThumbnailCell::Face face;
        QImage thumbnail;
        QString name;
    };
    const double top = verticalScrollBar()->value();
    const QRect area = event->rect();
    const QRectF dirty = QRectF(area).translated(0, top);
    const auto [begin, end] = m_layout.range(dirty.top(), dirty.bottom());
    const QSet<QString>& selected = m_model.selectedIDs();
    const bool selectionMode = m_model.selectionMode();
    std::vector<Card> cards;
    cards.reserve(std::size_t(std::max(0, end - begin)));
    struct Missing {
        std::size_t card;
        Scaled scaled;
    };
    std::vector<Missing> missing;
    for (int i = begin; i < end; ++i) {
        const QRectF rect = m_layout.cardRect(i).translated(0, -top);
        if (!rect.intersects(QRectF(area)))
            continue;
        const Photo& photo = m_photos.at(i);
        Card card{rect, &photo, {selected.contains(photo.id), selectionMode}, {}, {}, {}};
        if (GridThumbnailCell* cell = m_cells.value(photo.id)) {
            card.face = cell->face();
            if (const std::optional<Scaled> scaled = scaledKey(*cell, card.face, rect)) {
                if (QImage* hit = m_scaled.object(scaled->key))
                    card.thumbnail = *hit;
                else
                    missing.push_back({cards.size(), *scaled});
            }
        }
        card.name = elidedName(photo, PhotoCard::nameRect(rect).width());
        cards.push_back(std::move(card));
    }
    // Pictures that just arrived are scaled to their card side by side, once. Their pixels are
    // allocated here, on the main thread, which frees them again when the cache lets them go.
    const double scale = displayScale();
    for (const Missing& item : missing) {
        QImage scaled(item.scaled.pixels, QImage::Format_ARGB32_Premultiplied);
        scaled.setDevicePixelRatio(scale);
        cards[item.card].thumbnail = std::move(scaled);
    }
    GridBandPainter::runParallel(int(missing.size()), [&](int index) {
        Card& card = cards[missing[std::size_t(index)].card];
        QImage& scaled = card.thumbnail;
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(QPointF(0, 0), scaled.deviceIndependentSize()), card.face.image);
    });
    for (const Missing& item : missing) {
        const QImage& image = cards[item.card].thumbnail;
        m_scaled.insert(item.scaled.key, new QImage(image), std::max(1, int(image.sizeInBytes() / 1024)));
    }

    QPainter painter(viewport());
    const QPalette colours = palette();
    m_bands.paint(painter, area, [&](QPainter& band, const QRect& part) {
        band.fillRect(part, colours.color(QPalette::Window));
        for (const Card& card : cards) {
            if (card.rect.intersects(QRectF(part)))
                PhotoCard::paint(band, card.rect, colours, card.look, card.face, card.thumbnail, card.name,
                                 *card.photo);
        }
    });
    if (m_bands.holdsBuffer())
        m_bufferRelease.start();
}

void PhotoGridView::press(QMouseEvent* event, int clicks) {
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const int index = m_layout.indexAt(event->position() + QPointF(0, verticalScrollBar()->value()));
    m_dragging = false;
    if (index < 0) {
        m_press.reset();
        return;
    }
    const Photo& photo = m_photos.at(index);
    m_press = Press{index, photo.id, event->position(), clicks};
    if (m_callbacks.pressed)
        m_callbacks.pressed(photo);
}

void PhotoGridView::mousePressEvent(QMouseEvent* event) {
    press(event, 1);
}

void PhotoGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    press(event, 2);
}

void PhotoGridView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_press || m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF delta = event->position() - m_press->position;
    if (QPointF::dotProduct(delta, delta) <= kDragThreshold * kDragThreshold)
        return;
    const Press started = *m_press;
    if (started.index >= m_photos.size() || m_photos.at(started.index).id != started.id) {
        m_press.reset();
        return;
    }
    m_dragging = true;
    m_press.reset();
    // The drag loop runs events: the grid may be gone when it returns.
    QPointer<PhotoGridView> self(this);
    const Photo photo = m_photos.at(started.index);
    const auto drag = m_callbacks.drag;
    if (drag)
        drag(photo, pictureRectInViewport(started.index));
    if (self)
        m_dragging = false;
}

void PhotoGridView::mouseReleaseEvent(QMouseEvent* event) {
    const std::optional<Press> pressed = std::exchange(m_press, std::nullopt);
    if (!pressed || m_dragging || event->button() != Qt::LeftButton)
        return;
    const auto it = m_indexByID.constFind(pressed->id);
    if (it == m_indexByID.constEnd() || !cardRectInViewport(*it).contains(event->position()))
        return;
    const Photo photo = m_photos.at(*it);
    if (pressed->clicks > 1) {
        if (m_callbacks.preview)
            m_callbacks.preview(photo);
    } else if (m_callbacks.select) {
        m_callbacks.select(photo);
    }
}

void PhotoGridView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    const std::optional<Photo> photo = photoAt(event->pos());
    if (photo && m_callbacks.contextMenu)
        m_callbacks.contextMenu(*photo, event->globalPos());
}

} // namespace vennimo
