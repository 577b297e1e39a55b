#pragma once

#include <QWidget>

#include <functional>

namespace vennimo {

// A region that moves its window when pressed: through the mover the rope screen installs (the
// rope window follows the pointer by its rope), else the window system's own move. It takes the
// first click of an inactive window.
class WindowMoveArea : public QWidget {
    Q_OBJECT

public:
    // Answers whether it started a move from the global point.
    using Mover = std::function<bool(QPointF screenPoint)>;

    explicit WindowMoveArea(QWidget* parent = nullptr);

    void setMover(Mover mover) { m_mover = std::move(mover); }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Mover m_mover;
};

} // namespace vennimo
