#include "shell/TemporaryRopeScreen.h"

#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/PegDropSurfaces.h"
#include "shell/GalleryWindow.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace vennimo {

TemporaryRopeScreen::TemporaryRopeScreen(GalleryModel& model, GalleryWindow& window)
    : QWidget(&window)
    , m_window(window) {
    setAttribute(Qt::WA_TranslucentBackground);
    m_canvas = new ClotheslineCanvas(model, this);
    m_window.setContentWidget(this);
    m_canvas->setWindowPort(&m_window);
    // A peg carried over a file manager leaves the rope as a system drag the file manager takes.
    m_canvas->canvas()->setNativeDestination(&PegDropSurfaces::yieldsToNativeDestination);
}

void TemporaryRopeScreen::dismantle() {
    m_canvas->dismantle();
}

void TemporaryRopeScreen::placeRope() {
    m_window.setClotheslineStyle(true);
    m_window.setClotheslineLayout(kHeight, kCanvasTop);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window.setFrame(
            QRectF(area.x() + (area.width() - kWidth) / 2, area.y() + kScreenTop, kWidth, kHeight));
    }
    m_window.restoreClotheslinePosition();
}

void TemporaryRopeScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int top = int(std::lround(m_window.clotheslineCanvasTop()));
    m_canvas->scrollView()->setGeometry(0, top, width(), std::max(height() - top, 0));
}

} // namespace vennimo
