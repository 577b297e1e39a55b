// A drag source of its own process that answers every request for its data slowly: it offers
// COUNT image types ("image/x-..."), each answered after DELAY milliseconds with bytes that are no
// picture. It shows a window at X,Y and prints "ready" once it is on screen; a press in it starts
// the drag. Each answer is told on standard output ("answered TYPE"), and "dropped" once the
// drag ended.
//   slow_drag_source X Y COUNT DELAY
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class SlowData : public QMimeData {
public:
    SlowData(int count, int delayMs)
        : m_delayMs(delayMs) {
        // Names of real formats first, so that a reader which keeps to the formats it can decode
        // still meets slow answers; made-up ones make up the count.
        const QStringList known{"image/x-portable-pixmap",
                                "image/x-portable-graymap",
                                "image/x-portable-bitmap",
                                "image/x-xpixmap",
                                "image/x-xbitmap",
                                "image/x-bmp",
                                "image/x-ms-bmp",
                                "image/x-tga",
                                "image/x-icns",
                                "image/x-icon",
                                "image/x-win-bitmap",
                                "image/x-exr"};
        for (int i = 0; i < count; ++i)
            m_types.append(i < known.size() ? known[i] : QString("image/x-slow-%1").arg(i));
    }
    QStringList formats() const override { return m_types; }
    bool hasFormat(const QString& type) const override { return m_types.contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        QThread::msleep(m_delayMs);
        std::printf("answered %s\n", qPrintable(type));
        std::fflush(stdout);
        return QByteArray("this is no picture, only a slow answer");
    }

private:
    QStringList m_types;
    int m_delayMs;
};

class Source : public QWidget {
public:
    Source(int count, int delayMs)
        : m_count(count)
        , m_delayMs(delayMs) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(90, 60, 110));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, QString("%1 slow types").arg(m_count));
    }
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        drag->setMimeData(new SlowData(m_count, m_delayMs));
        QPixmap pixmap(48, 36);
        pixmap.fill(QColor(200, 120, 40));
        drag->setPixmap(pixmap);
        drag->exec(Qt::CopyAction);
        std::printf("dropped\n");
        std::fflush(stdout);
    }

private:
    int m_count;
    int m_delayMs;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    Source source(args[3].toInt(), args[4].toInt());
    source.setWindowTitle("slow drag source");
    source.setGeometry(args[1].toInt(), args[2].toInt(), 200, 150);
    source.show();
    QTimer::singleShot(800, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}
