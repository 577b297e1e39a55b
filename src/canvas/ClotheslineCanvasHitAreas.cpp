#include "canvas/ClotheslineCanvasView.h"

#include "canvas/RopeWindowPort.h"
#include "model/GalleryModel.h"

#include <QCursor>
#include <QMenu>
#include <QPainterPathStroker>

namespace vennimo {

namespace {

QPainterPath stroked(const QPainterPath& path, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setMiterLimit(1);
    QPainterPath outline = stroker.createStroke(path);
    outline.setFillRule(Qt::WindingFill);
    return outline;
}

// Clips a canvas path to the visible part and maps it into the window's content coordinates;
// shapes wholly outside are dropped before any intersection is computed.
std::optional<QPainterPath> published(const QPainterPath& path, const QRectF& visible,
                                      const QTransform& toContent) {
    const QRectF box = path.boundingRect();
    if (!box.intersects(visible))
        return std::nullopt;
    QPainterPath kept = path;
    if (!visible.contains(box)) {
        QPainterPath area;
        area.addRect(visible);
        kept = path.intersected(area);
    }
    kept.setFillRule(Qt::WindingFill);
    return toContent.map(kept);
}

} // namespace

void ClotheslineCanvasView::updateHitAreas() {
    if (!m_port)
        return;
    QWidget* content = m_port->contentView();
    if (!content)
        return;
    const QRectF visible = visibleRect();
    const QPointF o = content->mapFromGlobal(mapToGlobal(QPointF(0, 0)));
    const QPointF ex = content->mapFromGlobal(mapToGlobal(QPointF(1, 0)));
    const QPointF ey = content->mapFromGlobal(mapToGlobal(QPointF(0, 1)));
    const QTransform toContent(ex.x() - o.x(), ex.y() - o.y(), ey.x() - o.x(), ey.y() - o.y(), o.x(), o.y());

    const ClotheslineRopeGeometry rope = ropeGeometry();
    QList<QPainterPath> knots;
    for (const QRectF& knot : rope.knotRects()) {
        QPainterPath path;
        path.addRect(knot);
        if (auto kept = published(path, visible, toContent))
            knots.append(*kept);
    }
    m_port->setKnotResizePaths(knots);
    m_port->setRopeMovePath(published(stroked(rope.strand(0, 1), kRopeMoveStrokeWidth), visible, toContent));
    m_port->setRopeDropPath(published(
        stroked(rope.strand(rope.supportFraction(0), rope.supportFraction(1)), kRopeDropStrokeWidth), visible,
        toContent));

    // A print that stayed where it was, as it was, hands over the outlines it gave last time, the
    // same paths, which the window then sees at once as unchanged: the areas of a rope of a
    // thousand are made anew only for the prints that moved.
    QList<QPainterPath> prints;
    QHash<QString, PublishedPrint> kept;
    if (m_model) {
        kept.reserve(m_photos.size());
        for (const Photo& photo : std::as_const(m_photos)) {
            const auto frame = printFrame(photo);
            if (!frame)
                continue;
            const PolaroidGeometry g = geometry(photo);
            PublishedPrint print{frame->topLeft(),
                                 g.paperRect,
                                 g.paperTransform,
                                 g.pegTransform,
                                 selected(photo) ? 2
                                 : isNew(photo)  ? 1
                                                 : 0,
                                 visible,
                                 toContent,
                                 {}};
            if (const auto before = m_publishedPrints.constFind(photo.id);
                before != m_publishedPrints.constEnd() && before->sameAs(print)) {
                print.paths = before->paths;
            } else {
                const QTransform origin = QTransform::fromTranslate(frame->x(), frame->y());
                QList<QPainterPath> shapes{g.paperPath, g.pegPath};
                if (auto indicator = indicatorPath(photo, g))
                    shapes.append(*indicator);
                for (const QPainterPath& shape : std::as_const(shapes))
                    if (auto path = published(origin.map(shape), visible, toContent))
                        print.paths.append(*path);
            }
            prints.append(print.paths);
            kept.insert(photo.id, std::move(print));
        }
    }
    m_publishedPrints = std::move(kept);
    m_port->setCanvasPaths(prints);
}

bool ClotheslineCanvasView::PublishedPrint::sameAs(const PublishedPrint& other) const {
    return origin == other.origin && paperRect == other.paperRect && paperTransform == other.paperTransform &&
           pegTransform == other.pegTransform && badge == other.badge && visible == other.visible &&
           toContent == other.toContent;
}

bool ClotheslineCanvasView::canUseRopeGesture() const {
    if (m_previewing || m_sessionInProgress || m_externalDrop)
        return false;
    if (!m_port)
        return true;
    return !m_port->clotheslineDragActive() && !m_port->clotheslineRepositionActive() &&
           !m_port->knotResizeActive();
}

bool ClotheslineCanvasView::pegContains(const Photo& photo, QPointF point) const {
    const auto frame = printFrame(photo);
    if (!frame)
        return false;
    return const_cast<ClotheslineCanvasView*>(this)->geometry(photo).pegPath.contains(point -
                                                                                      frame->topLeft());
}

void ClotheslineCanvasView::updateCursor(QPointF point) {
    const std::optional<Photo> hit = photo(point);
    const ClotheslineRopeGeometry rope = ropeGeometry();
    Qt::CursorShape shape = Qt::ArrowCursor;
    const bool deleting = m_model && m_model->deleting();
    if (!hit && canUseRopeGesture() && rope.knotEdge(point)) {
        shape = Qt::SizeHorCursor;
    } else if (!hit && canUseRopeGesture() && ropeStrokeContains(point)) {
        shape = Qt::OpenHandCursor;
    } else if (hit && !m_previewing && !m_sessionInProgress && !m_externalDrop && !deleting) {
        shape = pegContains(*hit, point) ? Qt::OpenHandCursor : Qt::DragCopyCursor;
    }
    if (cursor().shape() != shape)
        setCursor(shape);
}

bool ClotheslineCanvasView::ropeStrokeContains(QPointF point) const {
    return stroked(ropeGeometry().strand(0, 1), kRopeMoveStrokeWidth).contains(point);
}

bool ClotheslineCanvasView::pegSpanStrokeContains(QPointF point, double width) const {
    const ClotheslineRopeGeometry rope = ropeGeometry();
    return stroked(rope.strand(rope.supportFraction(0), rope.supportFraction(1)), width).contains(point);
}

bool ClotheslineCanvasView::canSwitchToNormal() const {
    if (m_previewing || m_sessionInProgress || m_externalDrop)
        return false;
    if (m_port && (m_port->clotheslineDragActive() || m_port->clotheslineRepositionActive() ||
                   m_port->knotResizeActive()))
        return false;
    return m_model && !m_model->deleting() && !m_model->importing();
}

bool ClotheslineCanvasView::switchToNormalContext() {
    if (!canSwitchToNormal())
        return false;
    if (m_onSwitchToNormal)
        m_onSwitchToNormal();
    return true;
}

bool ClotheslineCanvasView::openSettingsContext() {
    if (m_sessionInProgress || m_externalDrop || !m_model || m_model->deleting())
        return false;
    if (m_onOpenSettings)
        m_onOpenSettings();
    return true;
}

std::unique_ptr<QMenu> ClotheslineCanvasView::ropeContextMenu() {
    auto menu = std::make_unique<QMenu>();
    QAction* normal = menu->addAction(QStringLiteral("普通窗口"));
    normal->setEnabled(canSwitchToNormal());
    connect(normal, &QAction::triggered, this, [this] { switchToNormalContext(); });
    QAction* settings = menu->addAction(QStringLiteral("设置…"));
    settings->setEnabled(!m_sessionInProgress && !m_externalDrop && m_model && !m_model->deleting());
    connect(settings, &QAction::triggered, this, [this] { openSettingsContext(); });
    return menu;
}

} // namespace vennimo
