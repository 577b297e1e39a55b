#include "RenderingTestSupport.h"

#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdlib>

namespace vennimo::test {

QImage makeLandscape(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height * 0.6);
    sky.setColorAt(0, QColor(64, 120, 200));
    sky.setColorAt(1, QColor(250, 190, 140));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(width * 0.72, height * 0.3, height * 0.12);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 210, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(width * 0.72, height * 0.3), height * 0.12, height * 0.12);
    QPainterPath far;
    far.moveTo(0, height * 0.55);
    far.cubicTo(width * 0.25, height * 0.35, width * 0.45, height * 0.6, width * 0.7, height * 0.45);
    far.cubicTo(width * 0.85, height * 0.38, width, height * 0.5, width, height * 0.5);
    far.lineTo(width, height);
    far.lineTo(0, height);
    p.setBrush(QColor(70, 110, 90));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(0, height * 0.72);
    near.cubicTo(width * 0.3, height * 0.6, width * 0.6, height * 0.8, width, height * 0.66);
    near.lineTo(width, height);
    near.lineTo(0, height);
    p.setBrush(QColor(40, 90, 45));
    p.drawPath(near);
    QLinearGradient lake(0, height * 0.82, 0, height);
    lake.setColorAt(0, QColor(90, 140, 190));
    lake.setColorAt(1, QColor(30, 60, 110));
    p.setBrush(lake);
    p.drawEllipse(QRectF(width * 0.15, height * 0.82, width * 0.55, height * 0.14));
    return image;
}

Photo photoFor(const QString& path, const QString& thumbnail, const QString& id) {
    Photo photo;
    photo.id = id;
    photo.path = path;
    photo.source = QStringLiteral("test");
    const QFileInfo info(path);
    photo.size = info.exists() ? info.size() : 0;
    photo.modified = 100;
    photo.added = 100;
    photo.thumbnail = thumbnail.isEmpty() ? path : thumbnail;
    if (!thumbnail.isEmpty())
        photo.thumbnailModified = 100;
    return photo;
}

bool near(QRgb actual, QColor expected, int tolerance) {
    const QColor a = QColor::fromRgba(qUnpremultiply(actual));
    return std::abs(a.red() - expected.red()) <= tolerance &&
           std::abs(a.green() - expected.green()) <= tolerance &&
           std::abs(a.blue() - expected.blue()) <= tolerance &&
           std::abs(a.alpha() - expected.alpha()) <= tolerance;
}

} // namespace vennimo::test
