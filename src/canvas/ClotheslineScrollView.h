#pragma once

#include <QScrollArea>

namespace vennimo {

class ClotheslineCanvasView;

// The scroll view that holds the canvas: no scroll bars, no frame, nothing painted of its own.
// It keeps the canvas as wide as itself and its hit areas current when it resizes, moves or
// scrolls.
class ClotheslineScrollView : public QScrollArea {
    Q_OBJECT

public:
    explicit ClotheslineScrollView(QWidget* parent = nullptr);

    ClotheslineCanvasView* canvas() const;
    QSizeF contentSize() const;

Q_SIGNALS:
    // The visible size changed; the host refreshes the canvas for it.
    void contentSizeChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void scrolled();
};

} // namespace vennimo
