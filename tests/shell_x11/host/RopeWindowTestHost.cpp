// Shows the rope window as the application does, with a stand-in canvas that publishes one print
// and a rope grip, and reports on stdout what the x11 tests need to see:
//   window <id>           once the window is shown
//   frame <x> <y> <w> <h> whenever the window moved or changed size
//   press <x> <y>         for a press on the print (window coordinates)
// With --grid it turns into the titled grid window a moment after it shows, as the rope's switch does.
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace vennimo;

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + '\n'), stdout);
    std::fflush(stdout);
}

void sayFrame(const QWidget* window) {
    const QRect g = window->geometry();
    say(QStringLiteral("frame %1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
}

class FakeCanvas : public QWidget {
public:
    static constexpr QRectF kPrint{100, 80, 200, 200};
    static constexpr QRectF kGrip{400, 50, 300, 30};

    explicit FakeCanvas(GalleryWindow* window)
        : m_window(window) {
        setAttribute(Qt::WA_TranslucentBackground);
    }

    void publish() {
        QPainterPath print, grip;
        print.addRect(kPrint);
        grip.addRect(kGrip);
        m_window->setCanvasPaths({print});
        m_window->setRopeMovePath(grip);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(kPrint, QColor(250, 250, 245));
        painter.fillRect(kPrint.adjusted(12, 12, -12, -40), QColor(200, 40, 40));
        painter.fillRect(kGrip, QColor(40, 90, 200));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (kGrip.contains(event->position())) {
            m_window->moveClothesline(event->globalPosition());
            return;
        }
        say(QStringLiteral("press %1 %2").arg(event->position().x()).arg(event->position().y()));
    }

private:
    GalleryWindow* m_window;
};

class FrameReporter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            sayFrame(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    GalleryWindow window;
    auto* canvas = new FakeCanvas(&window);
    window.setContentWidget(canvas);
    window.setClotheslineStyle(true);
    // Centred, as the application places it before the remembered position is read.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.setFrame(QRectF(screen.center().x() - 400, screen.center().y() - 259, 800, 518));
    window.restoreClotheslinePosition();
    window.installEventFilter(new FrameReporter(&window));
    window.showWithoutActivating();
    canvas->publish();
    sayFrame(&window);
    say(QStringLiteral("window %1").arg(window.winId()));
    if (app.arguments().contains(QStringLiteral("--grid")))
        QTimer::singleShot(600, &window, [&window] { window.setClotheslineStyle(false); });
    return app.exec();
}
