#include "canvas/DragPictureCut.h"

#include "platform/X11InputShape.h"
#include "rendering/AlphaMaskedPicture.h"

#include <QCoreApplication>
#include <QDrag>
#include <QEvent>
#include <QPixmap>
#include <QWindow>

namespace vennimo {

DragPictureCut::DragPictureCut(QDrag& drag, const QImage& picture, QPoint hotSpot, bool cut) {
    if (picture.isNull())
        return;
    if (!cut) {
        drag.setPixmap(QPixmap::fromImage(picture));
        drag.setHotSpot(hotSpot);
        return;
    }
    const AlphaMaskedPicture shape(picture);
    drag.setPixmap(QPixmap::fromImage(shape.image()));
    drag.setHotSpot(hotSpot);
    m_shown = shape.region();
    m_cut = true;
    qApp->installEventFilter(this);
}

DragPictureCut::~DragPictureCut() {
    if (m_cut)
        qApp->removeEventFilter(this);
}

bool DragPictureCut::eventFilter(QObject* watched, QEvent* event) {
    // Qt makes its window anew as the drag starts and whenever the pointer takes it to another
    // screen; a window is told it shows just before it is mapped.
    const QEvent::Type type = event->type();
    if ((type != QEvent::Show && type != QEvent::Expose) || !watched->isWindowType() ||
        !watched->inherits("QShapedPixmapWindow"))
        return false;
    auto* window = static_cast<QWindow*>(watched);
    if (m_shown.isEmpty())
        // A picture with nothing to show (a peg drag's, whose panels show the prints): an empty
        // mask would show the whole window. The cut made at the Show is gone again once Qt has
        // mapped the window, so it is made again as the window is exposed.
        X11InputShape::applyBounding(window, QRegion());
    else if (type == QEvent::Show)
        window->setMask(m_shown);
    return false;
}

} // namespace vennimo
