#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>

namespace vennimo {

class ClotheslineCanvasView;

// The content of a catcher window: a screen-sized, almost invisible surface that takes a drop of
// the canvas's own pegs wherever no file manager lies, so that no other program ever receives a
// peg; there the prints come off the rope (or slide along it when the peg touches it). Any other
// drag is refused.
class PegTakeDownView : public QWidget {
public:
    // 1/255: drawn at all, so the compositor hands it the pointer, yet not seen.
    static constexpr int kAlpha = 1;

    explicit PegTakeDownView(ClotheslineCanvasView* source);

    // The drop point in the canvas's coordinates; nothing for a drag that is not the canvas's own.
    std::optional<QPointF> dragPoint(const QDropEvent& event) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool follow(QDropEvent& event);

    QPointer<ClotheslineCanvasView> m_source;
};

} // namespace vennimo
