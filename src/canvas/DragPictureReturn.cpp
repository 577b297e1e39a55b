#include "canvas/DragPictureReturn.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

namespace vennimo {

DragPictureReturn::DragPictureReturn(QDrag& drag, std::unique_ptr<OpaquePegPreview> flight, QPoint hotSpot,
                                     OpaquePegPreview::Destinations destination,
                                     std::function<void()> completion, OpaquePegPreview::Sprites landing)
    : m_flight(std::move(flight))
    , m_hotSpot(hotSpot)
    , m_destination(std::move(destination))
    , m_completion(std::move(completion))
    , m_landing(std::move(landing)) {
    if (!m_flight)
        return;
    // The drag loop counts a release as a drop only while the target under the pointer accepts.
    connect(&drag, &QDrag::actionChanged, this, [this](Qt::DropAction action) { m_action = action; });
    qApp->installEventFilter(this);
    // Qt's drag loop puts its own filter in front as it starts and ends the drag inside it: go in
    // front of that one once it runs.
    QTimer::singleShot(0, this, [this] {
        qApp->removeEventFilter(this);
        if (!m_takenOver)
            qApp->installEventFilter(this);
    });
}

DragPictureReturn::~DragPictureReturn() {
    qApp->removeEventFilter(this);
}

bool DragPictureReturn::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove:
        // Qt's drag picture follows each move its loop sees, with its hot spot on the pointer.
        m_pointer = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        break;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            takeOver();
        break;
    case QEvent::MouseButtonRelease:
        if (m_action == Qt::IgnoreAction)
            takeOver();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DragPictureReturn::takeOver() {
    if (m_takenOver || !m_flight)
        return;
    m_takenOver = true;
    qApp->removeEventFilter(this);
    m_flight->takeOver(QPointF(m_pointer.value_or(QCursor::pos()) - m_hotSpot), m_destination,
                       std::exchange(m_completion, nullptr), std::exchange(m_landing, nullptr));
}

std::unique_ptr<OpaquePegPreview> DragPictureReturn::finish(bool returns) {
    qApp->removeEventFilter(this);
    if (!returns) {
        m_flight.reset();
        return nullptr;
    }
    takeOver();
    return std::move(m_flight);
}

} // namespace vennimo
