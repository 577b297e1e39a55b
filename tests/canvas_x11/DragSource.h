#pragma once

#include <QColor>
#include <QMimeData>
#include <QPoint>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace vennimo::test {

// A window of another program to drag from: a press starts a drag of what `offer` makes with the
// actions it allows, proposing `proposed`, and keeps what the drop answered.
class DragSource : public QWidget {
public:
    DragSource(QColor fill, QColor badge, Qt::DropActions actions,
               Qt::DropAction proposed = Qt::IgnoreAction);

    std::function<QMimeData*()> offer;
    std::optional<Qt::DropAction> result;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QColor m_fill;
    QColor m_badge;
    Qt::DropActions m_actions;
    Qt::DropAction m_proposed;
};

// Drives a whole press-move-release from `from` to `to` in a separate process, so this process
// keeps answering while its own drag loop runs; it hovers at `to` for `hoverSeconds`.
void startDragGesture(QProcess& gesture, QPoint from, QPoint to, double hoverSeconds);
// What a file manager offers for files: their URIs.
QMimeData* urlsOffer(const QList<QUrl>& urls);

} // namespace vennimo::test
