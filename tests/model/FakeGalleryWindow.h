#pragma once

#include "model/GalleryWindowPort.h"

#include <QList>
#include <QObject>

#include <optional>

namespace vennimo::test {

// Records every layout the chrome sets; gestures and style are switched by the test.
class FakeGalleryWindow : public QObject, public GalleryWindowPort {
public:
    struct Layout {
        double height = 0;
        double canvasTop = 0;
        bool operator==(const Layout&) const = default;
    };

    void setClotheslineLayout(double height, double canvasTop) override {
        layouts.append({height, canvasTop});
        // Like the real window: applied at once unless a gesture holds it back.
        if (!dragActive && !repositionActive && !knotResize)
            canvasTop_ = canvasTop;
    }
    std::optional<bool> clotheslineStyle() const override { return style; }
    double clotheslineCanvasTop() const override { return canvasTop_; }
    bool clotheslineDragActive() const override { return dragActive; }
    bool clotheslineRepositionActive() const override { return repositionActive; }
    bool knotResizeActive() const override { return knotResize; }

    QList<Layout> layouts;
    std::optional<bool> style = true;
    double canvasTop_ = 0;
    bool dragActive = false;
    bool repositionActive = false;
    bool knotResize = false;
};

} // namespace vennimo::test
