#include "DragSource.h"

#include <QDrag>
#include <QPainter>
#include <QPixmap>

namespace vennimo::test {

DragSource::DragSource(QColor fill, QColor badge, Qt::DropActions actions, Qt::DropAction proposed)
    : m_fill(fill)
    , m_badge(badge)
    , m_actions(actions)
    , m_proposed(proposed) {}

void DragSource::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), m_fill);
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, windowTitle());
}

void DragSource::mousePressEvent(QMouseEvent*) {
    auto* drag = new QDrag(this);
    drag->setMimeData(offer());
    QPixmap pixmap(48, 36);
    pixmap.fill(m_badge);
    drag->setPixmap(pixmap);
    result = drag->exec(m_actions, m_proposed);
}

namespace {

QString xy(QPoint p) {
    return QString("%1 %2").arg(p.x()).arg(p.y());
}

} // namespace

void startDragGesture(QProcess& gesture, QPoint from, QPoint to, double hoverSeconds) {
    QString script = "xdotool mousemove " + xy(from) + "; sleep 0.3; xdotool mousedown 1; sleep 0.3;";
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i)
        script += " xdotool mousemove " + xy(from + (to - from) * i / kSteps) + "; sleep 0.06;";
    script += QString(" sleep %1; xdotool mouseup 1").arg(hoverSeconds);
    gesture.start("bash", {"-c", script});
}

QMimeData* urlsOffer(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

} // namespace vennimo::test
