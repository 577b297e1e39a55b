#pragma once

#include <QWidget>

namespace vennimo {

class ClotheslineCanvas;
class GalleryModel;
class GalleryWindow;

// A stand-in for the rope screen until it is built: the content of the gallery window in its
// rope style, holding the clothesline canvas below the window's canvas top. It has no floating
// toolbar and does not follow the chrome's expanded state.
class TemporaryRopeScreen : public QWidget {
    Q_OBJECT

public:
    static constexpr double kWidth = 980;
    static constexpr double kCanvasTop = 8;
    // The rope window's height with prints and without the toolbar: 452 + 66 - 52.
    static constexpr double kHeight = 466;
    static constexpr double kScreenTop = 40;

    TemporaryRopeScreen(GalleryModel& model, GalleryWindow& window);

    // Clears what the canvas published on the window; call before the window goes.
    void dismantle();
    // Centres the rope near the top of the screen, unless a remembered place wins; the presence
    // pass shows it.
    void placeRope();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    GalleryWindow& m_window;
    ClotheslineCanvas* m_canvas = nullptr;
};

} // namespace vennimo
