#include "TemporaryRopeWindow.h"

#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineScrollView.h"
#include "model/GalleryModel.h"

#include <QGuiApplication>
#include <QScreen>

namespace vennimo {

TemporaryRopeWindow::TemporaryRopeWindow(GalleryModel& model)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Vennimo Gallery"));
    resize(kWidth, kHeight);
    m_canvas = new ClotheslineCanvas(model, this);
    m_canvas->scrollView()->setGeometry(0, kCanvasTop, kWidth, kHeight - kCanvasTop);
    m_canvas->setWindowPort(this);
}

TemporaryRopeWindow::~TemporaryRopeWindow() {
    m_canvas->dismantle();
}

void TemporaryRopeWindow::showOnTop() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - kWidth) / 2, area.y() + kScreenTop);
    }
    show();
}

} // namespace vennimo
