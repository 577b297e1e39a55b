#include "canvas/ClotheslineCanvasView.h"

#include "rope/RopeDiagnostic.h"

#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QPixmap>
#include <QTimer>

namespace vennimo {

namespace {

QString pair(QPointF point) {
    return RopeDiagnostic::number(point.x()) + QLatin1Char(',') + RopeDiagnostic::number(point.y());
}

} // namespace

void ClotheslineCanvasView::startDragVisualSampler() {
    m_visualDiagnosticTimer = std::make_unique<QTimer>();
    m_visualDiagnosticTimer->setTimerType(Qt::PreciseTimer);
    m_visualDiagnosticTimer->setInterval(kDragVisualSampleMs);
    QPointer<ClotheslineCanvasView> self(this);
    QObject::connect(m_visualDiagnosticTimer.get(), &QTimer::timeout, this, [self] {
        if (self)
            self->recordDragVisual(QStringLiteral("sample"));
    });
    m_visualDiagnosticTimer->start();
}

void ClotheslineCanvasView::recordDragPointer(QPointF screenPoint) {
    if (!m_sessionInProgress || !m_systemDrag || m_sessionPoint == screenPoint)
        return;
    m_sessionPoint = screenPoint;
    RopeDiagnostic::event("DragPointer", QStringLiteral("x=%1 y=%2")
                                             .arg(RopeDiagnostic::number(screenPoint.x()),
                                                  RopeDiagnostic::number(screenPoint.y())));
}

void ClotheslineCanvasView::recordDragVisual(const QString& source, const QDropEvent* sender) {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg || !m_systemDrag)
        return;
    const QPointF cursor = QCursor::pos();
    const QPointF session = m_sessionPoint.value_or(cursor);
    const QString base = QStringLiteral("source=%1 cursor=%2 session=%3 contact=%4")
                             .arg(source, pair(cursor), pair(session),
                                  m_pegContact.touching ? QStringLiteral("true") : QStringLiteral("false"));
    // X draws the drag's picture with its hot spot on the pointer, in one piece: the formation
    // is always none.
    const QPixmap pixmap = m_systemDrag->pixmap();
    const QPointF hotSpot = QPointF(m_systemDrag->hotSpot()) / std::max(pixmap.devicePixelRatio(), 1.0);
    if (sender && window()) {
        const QPointF reported = mapToGlobal(sender->position());
        RopeDiagnostic::event("ReceiverVisual", base + QStringLiteral(" reported=%1 image=%2 formation=0")
                                                           .arg(pair(reported), pair(reported - hotSpot)));
    }
    const QSizeF size = pixmap.isNull() ? QSizeF() : pixmap.deviceIndependentSize();
    const QPointF origin = session - hotSpot;
    const QString components = pixmap.isNull() ? QString()
                                               : QStringLiteral("icon:%1x%2")
                                                     .arg(RopeDiagnostic::number(size.width()),
                                                          RopeDiagnostic::number(size.height()));
    RopeDiagnostic::event("DragVisual", base + QStringLiteral(" index=0 frame=%1,%2,%3 offset=%4 formation=0 "
                                                              "components=%5")
                                                   .arg(pair(origin), RopeDiagnostic::number(size.width()),
                                                        RopeDiagnostic::number(size.height()),
                                                        pair(origin - cursor), components));
}

} // namespace vennimo
