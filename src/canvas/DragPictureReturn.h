#pragma once

#include "canvas/OpaquePegPreview.h"

#include <QObject>
#include <QPoint>
#include <QPointF>

#include <functional>
#include <memory>

class QDrag;

namespace vennimo {

// Takes a system drag's picture over when the drag ends with nothing taking it, in the same
// frame: Qt takes its picture away as its drag loop sees Escape, or a release where no target
// accepts the drop, and the sliding picture, made before the drag began, must already stand
// there and show by then. It watches the drag's events ahead of Qt's loop, and follows what the
// target under the pointer answers.
class DragPictureReturn : public QObject {
public:
    // `flight` stands by (OpaquePegPreview::standBy); nothing returns without one. The drag picture
    // lies with its top left `hotSpot` above and left of the pointer. `completion` runs once the
    // picture has landed and gone; `landing` is what it shows once landed (OpaquePegPreview).
    DragPictureReturn(QDrag& drag, std::unique_ptr<OpaquePegPreview> flight, QPoint hotSpot,
                      OpaquePegPreview::Destinations destination, std::function<void()> completion = {},
                      OpaquePegPreview::Sprites landing = {});
    ~DragPictureReturn() override;

    // Once the drag's exec has answered: the flying picture when it returns (`returns`: nothing
    // took the drag), taken over now where the drag's end gave no chance before; nothing when it
    // does not, and a picture already shown goes at once.
    std::unique_ptr<OpaquePegPreview> finish(bool returns);
    bool takenOver() const { return m_takenOver; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeOver();

    std::unique_ptr<OpaquePegPreview> m_flight;
    QPoint m_hotSpot;
    OpaquePegPreview::Destinations m_destination;
    std::function<void()> m_completion;
    OpaquePegPreview::Sprites m_landing;
    std::optional<QPoint> m_pointer;
    Qt::DropAction m_action = Qt::IgnoreAction;
    bool m_takenOver = false;
};

} // namespace vennimo
