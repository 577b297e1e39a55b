#pragma once

#include "core/Photo.h"
#include "grid/GridBandPainter.h"
#include "grid/GridThumbnailCell.h"
#include "grid/PhotoGridLayout.h"

#include <QAbstractScrollArea>
#include <QCache>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

class GalleryModel;

// The scrolling grid of photo cards. It lays out only the rows near the viewport, keeps a
// thumbnail cell for each of their cards (cancelled and dropped once they scroll away), and turns
// pointer input on a card into the card's actions: a click selects, a double click previews, a
// right click asks for the menu, and a drag of more than 5 points hands the card to the drag
// callback.
class PhotoGridView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr double kDragThreshold = 5;
    static constexpr double kTopTolerance = 8;
    // Rows beyond the viewport whose thumbnails load ahead.
    static constexpr int kRowsAhead = 1;
    static constexpr std::chrono::seconds kBufferLinger{2};

    struct Callbacks {
        std::function<void(const Photo&)> select;
        std::function<void(const Photo&)> preview;
        std::function<void(const Photo&, QPoint globalPos)> contextMenu;
        // The pointer left the card by more than the threshold with the button down; the drag
        // lifts the card's picture off where it lies.
        std::function<void(const Photo&, const QRectF& pictureInViewport)> drag;
        // Called on every press on a card, before anything else.
        std::function<void(const Photo&)> pressed;
    };

    PhotoGridView(GalleryModel& model, QWidget* parent = nullptr);
    ~PhotoGridView() override;

    void setCallbacks(Callbacks callbacks) { m_callbacks = std::move(callbacks); }
    const Callbacks& callbacks() const { return m_callbacks; }
    GalleryModel& model() const { return m_model; }
    void setThumbnailSource(GridThumbnailCell::Source source);
    // The photos the grid shows, in order.
    void setPhotos(const QList<Photo>& photos);
    const QList<Photo>& photos() const { return m_photos; }
    // Where the photo stands in photos(), or -1.
    int indexOfPhoto(const QString& id) const { return m_indexByID.value(id, -1); }
    // The card the keyboard and the last click act from: the selection's anchor while it is
    // selected and shown.
    std::optional<QString> currentPhotoID() const;
    const PhotoGridLayout& gridLayout() const { return m_layout; }

    // Scrolls so that the photo's row starts the view; an unknown or absent id scrolls to the top.
    void scrollToPhoto(const std::optional<QString>& id);
    // The animated way to the top.
    void scrollToTop(std::chrono::milliseconds duration);
    bool isAtTop() const { return m_atTop; }
    bool isScrollingToTop() const { return m_scrollAnimation.state() == QAbstractAnimation::Running; }
    // The photo under a point of the viewport.
    std::optional<Photo> photoAt(QPoint viewportPoint) const;
    QRectF cardRectInViewport(int index) const;
    // Where the card draws its photo's picture: that picture's pixels once it has loaded, else the
    // place a picture of the photo's shape will take.
    QRectF pictureRectInViewport(int index) const;
    // Where a card lies on the screen, whether or not it is scrolled into view.
    QRect cardRectOnScreen(int index) const;
    // The cells that exist now: the cards near the viewport.
    const QHash<QString, GridThumbnailCell*>& cells() const { return m_cells; }

Q_SIGNALS:
    void atTopChanged(bool atTop);
    // setPhotos() ran; the list may be the same as before.
    void photosReplaced();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Press {
        int index = -1;
        QString id;
        QPointF position;
        int clicks = 1;
    };
    void relayout();
    void syncCells();
    void followTop();
    void press(QMouseEvent* event, int clicks);
    // The key and pixel size of a card's picture scaled to its place.
    struct Scaled {
        QString key;
        QSize pixels;
    };
    std::optional<Scaled> scaledKey(const GridThumbnailCell& cell, const GridThumbnailCell::Face& face,
                                    const QRectF& card) const;
    QString elidedName(const Photo& photo, double width);
    double displayScale() const;

    GalleryModel& m_model;
    Callbacks m_callbacks;
    GridThumbnailCell::Source m_source = GridThumbnailCell::Source::shared();
    QList<Photo> m_photos;
    QHash<QString, int> m_indexByID;
    PhotoGridLayout m_layout;
    QHash<QString, GridThumbnailCell*> m_cells;
    // Pictures scaled to their card, so a frame only copies pixels; in kilobytes.
    QCache<QString, QImage> m_scaled{20 * 1024};
    GridBandPainter m_bands;
    QHash<QString, std::pair<int, QString>> m_names;
    std::optional<Press> m_press;
    bool m_dragging = false;
    bool m_atTop = true;
    QPointer<QWindow> m_screenWatched;
    // Lets the bands' frame buffer go once whole-viewport paints have stopped for a while.
    QTimer m_bufferRelease;
    QTimer m_fadeTimer;
    QVariantAnimation m_scrollAnimation;
};

} // namespace vennimo
