#pragma once

#include <QWidget>

#include <functional>

namespace vennimo {

// A child that draws nothing, covers its whole top-level window and stays above its siblings, so
// Qt paints it last whenever any part of the window repaints: its paint event comes once the frame
// is complete in the backing store and before Qt hands it to the window system. It takes no input.
class FramePaintedProbe : public QWidget {
public:
    // `painted` runs in the paint event, after every sibling has drawn its share of the frame.
    FramePaintedProbe(QWidget* window, std::function<void()> painted);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> m_painted;
};

} // namespace vennimo
