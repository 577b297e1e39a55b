// The floor of the start-up figures: a plain Qt Widgets window that paints one print-sized white
// card where the rope would hang, started exactly as the application is.
#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

namespace {

class Card : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(40, 40, 40));
        painter.fillRect(QRect(60, 30, 290, 292), Qt::white);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Card card;
    card.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    card.setGeometry(screen.x() + (screen.width() - 980) / 2, screen.y() + 40, 980, 466);
    card.show();
    return QApplication::exec();
}
