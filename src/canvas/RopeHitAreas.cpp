#include "canvas/RopeHitAreas.h"

#include <QEvent>
#include <QTimer>

namespace vennimo {

RopeHitAreas::RopeHitAreas(QWidget* space)
    : QObject(space)
    , m_space(space) {}

void RopeHitAreas::add(QWidget* publisher, bool photo) {
    m_publishers.append({publisher, photo});
    publisher->installEventFilter(this);
    schedulePublish();
}

QList<RopeHitRegion> RopeHitAreas::collect() const {
    QList<RopeHitRegion> regions;
    if (!m_space)
        return regions;
    for (const Publisher& publisher : m_publishers) {
        QWidget* widget = publisher.widget;
        if (!widget || !widget->isVisibleTo(m_space) || widget->size().isEmpty())
            continue;
        const QPoint origin = widget->mapTo(m_space, QPoint(0, 0));
        regions.append({QRectF(origin, QSizeF(widget->size())), publisher.photo});
    }
    return regions;
}

void RopeHitAreas::publish() {
    m_scheduled = false;
    QList<RopeHitRegion> regions = collect();
    if (regions == m_published)
        return;
    m_published = std::move(regions);
    ++m_publishCount;
    Q_EMIT changed(m_published);
}

void RopeHitAreas::schedulePublish() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, &RopeHitAreas::publish);
}

bool RopeHitAreas::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
        schedulePublish();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vennimo
