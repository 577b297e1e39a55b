#include "RenderingTestSupport.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdlib>

namespace vennimo::test {

QImage makeLandscape(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, QColor(64, 120, 200));
    sky.setColorAt(1, QColor(250, 190, 140));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(w * 0.72, h * 0.3, h * 0.12);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 210, 120, 0));
    p.setBrush(sun);
    p.drawEllipse(QPointF(w * 0.72, h * 0.3), h * 0.12, h * 0.12);
    const auto hill = [&](double top, double dip, double rise, double right, QColor colour) {
        QPainterPath path;
        path.moveTo(0, h * top);
        path.cubicTo(w * 0.3, h * rise, w * 0.6, h * dip, w, h * right);
        path.lineTo(w, h);
        path.lineTo(0, h);
        p.setBrush(colour);
        p.drawPath(path);
    };
    hill(0.55, 0.6, 0.35, 0.48, QColor(70, 110, 90));
    hill(0.72, 0.8, 0.6, 0.66, QColor(40, 90, 45));
    p.setBrush(QColor(60, 100, 160));
    p.drawEllipse(QRectF(w * 0.15, h * 0.82, w * 0.55, h * 0.14));
    return image;
}

Photo photoFor(const QString& path, const QString& thumbnail, const QString& id) {
    Photo photo;
    photo.id = id;
    photo.path = path;
    photo.source = QStringLiteral("test");
    photo.size = QFileInfo(path).size();
    photo.modified = 100;
    photo.added = 100;
    photo.thumbnail = thumbnail.isEmpty() ? path : thumbnail;
    if (!thumbnail.isEmpty())
        photo.thumbnailModified = 100;
    return photo;
}

Photo writePhoto(const QString& folder, const QString& name, QSize size, bool withThumbnail, QColor color) {
    const QString path = folder + u'/' + name;
    saveImage(makeImage(size.width(), size.height(), color), path + QStringLiteral(".png"));
    if (withThumbnail)
        saveImage(makeImage(size.width() / 2, size.height() / 2, color), path + QStringLiteral("-thumb.jpg"));
    return photoFor(path + QStringLiteral(".png"),
                    withThumbnail ? path + QStringLiteral("-thumb.jpg") : QString(),
                    QStringLiteral("1-") + name);
}

std::vector<Photo> writePhotos(const QString& folderName, int count, QSize size, bool withThumbnail) {
    const QString folder = makeFolder(folderName);
    std::vector<Photo> photos;
    for (int i = 0; i < count; ++i)
        photos.push_back(writePhoto(folder, QStringLiteral("p%1").arg(i), size, withThumbnail));
    return photos;
}

bool near(QRgb actual, QColor expected, int tolerance) {
    const QRgb a = qUnpremultiply(actual), e = expected.rgba();
    for (int shift : {0, 8, 16, 24})
        if (std::abs(int((a >> shift) & 0xff) - int((e >> shift) & 0xff)) > tolerance)
            return false;
    return true;
}

bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QImage solid(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

} // namespace vennimo::test
