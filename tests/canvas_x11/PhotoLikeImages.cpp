#include "PhotoLikeImages.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vennimo::test {

namespace {

void addGrain(QImage& image, QRandomGenerator& random) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(13)) - 6;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
}

QPainterPath ridge(double width, double base, double height, QRandomGenerator& random, double bottom) {
    QPainterPath path;
    path.moveTo(0, bottom);
    path.lineTo(0, base);
    const int steps = 9;
    for (int i = 1; i <= steps; ++i) {
        const double x = width * i / steps;
        const double y = base - height * (0.3 + 0.7 * random.generateDouble());
        path.quadTo(x - width / steps / 2, y - height * 0.3 * random.generateDouble(), x, y);
    }
    path.lineTo(width, bottom);
    path.closeSubpath();
    return path;
}

void paintLandscape(QPainter& p, QSize size, QRandomGenerator& random, int seed) {
    const double w = size.width();
    const double h = size.height();
    const bool dusk = seed % 2 == 1;
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, dusk ? QColor(40, 50, 110) : QColor(70, 130, 210));
    sky.setColorAt(0.7, dusk ? QColor(230, 120, 90) : QColor(170, 210, 240));
    sky.setColorAt(1, dusk ? QColor(250, 200, 130) : QColor(230, 240, 245));
    p.fillRect(QRectF(0, 0, w, h), sky);

    const QPointF sun(w * (0.2 + 0.6 * random.generateDouble()), h * (0.18 + 0.2 * random.generateDouble()));
    QRadialGradient glow(sun, h * 0.25);
    glow.setColorAt(0, QColor(255, 250, 220, 255));
    glow.setColorAt(0.15, QColor(255, 235, 180, 220));
    glow.setColorAt(1, QColor(255, 220, 160, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(sun, h * 0.25, h * 0.25);

    for (int i = 0; i < 5; ++i) {
        p.setBrush(QColor(255, 255, 255, 70 + int(random.bounded(60))));
        const QPointF c(w * random.generateDouble(), h * (0.08 + 0.2 * random.generateDouble()));
        for (int k = 0; k < 5; ++k)
            p.drawEllipse(c + QPointF(k * w * 0.03, (k % 2) * h * 0.01), w * 0.05, h * 0.025);
    }

    const QColor far = dusk ? QColor(110, 90, 130) : QColor(120, 150, 180);
    const QColor near = dusk ? QColor(50, 60, 60) : QColor(60, 110, 60);
    for (int layer = 0; layer < 3; ++layer) {
        const double t = layer / 2.0;
        QColor colour = QColor::fromRgbF(far.redF() + (near.redF() - far.redF()) * t,
                                         far.greenF() + (near.greenF() - far.greenF()) * t,
                                         far.blueF() + (near.blueF() - far.blueF()) * t);
        QLinearGradient fill(0, h * 0.35, 0, h);
        fill.setColorAt(0, colour.lighter(115));
        fill.setColorAt(1, colour.darker(130));
        p.setBrush(fill);
        p.drawPath(ridge(w, h * (0.55 + 0.1 * layer), h * (0.25 - 0.06 * layer), random, h));
    }

    QLinearGradient water(0, h * 0.78, 0, h);
    water.setColorAt(0, dusk ? QColor(200, 130, 110) : QColor(110, 160, 200));
    water.setColorAt(1, dusk ? QColor(60, 50, 80) : QColor(40, 80, 120));
    p.setBrush(water);
    p.drawRect(QRectF(0, h * 0.8, w, h * 0.2));
    p.setBrush(QColor(255, 255, 255, 60));
    for (int i = 0; i < 30; ++i)
        p.drawRect(
            QRectF(w * random.generateDouble(), h * (0.81 + 0.18 * random.generateDouble()), w * 0.06, 2));

    for (int i = 0; i < 7; ++i) {
        const double x = w * random.generateDouble();
        const double base = h * (0.8 + 0.02 * random.generateDouble());
        const double tree = h * (0.12 + 0.1 * random.generateDouble());
        p.setBrush(QColor(70, 50, 35));
        p.drawRect(QRectF(x - w * 0.004, base - tree * 0.3, w * 0.008, tree * 0.3));
        QPainterPath crown;
        crown.moveTo(x, base - tree);
        crown.lineTo(x - tree * 0.22, base - tree * 0.25);
        crown.lineTo(x + tree * 0.22, base - tree * 0.25);
        crown.closeSubpath();
        p.setBrush(dusk ? QColor(25, 40, 35) : QColor(30, 80 + int(random.bounded(30)), 40));
        p.drawPath(crown);
    }
}

void paintFlower(QPainter& p, QSize size, QRandomGenerator& random) {
    const double w = size.width();
    const double h = size.height();
    QRadialGradient background(QPointF(w * 0.5, h * 0.5), std::max(w, h) * 0.8);
    background.setColorAt(0, QColor(120, 170, 90));
    background.setColorAt(1, QColor(30, 60, 35));
    p.fillRect(QRectF(0, 0, w, h), background);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 25; ++i) {
        p.setBrush(QColor(200, 230, 160, 40));
        p.drawEllipse(QPointF(w * random.generateDouble(), h * random.generateDouble()), w * 0.04, w * 0.04);
    }
    const QPointF centre(w * 0.52, h * 0.48);
    const double r = std::min(w, h) * 0.36;
    const QColor petal = QColor::fromHsv(int(random.bounded(360)), 170, 235);
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(i * 30.0 + 8 * random.generateDouble());
        QLinearGradient g(0, 0, r, 0);
        g.setColorAt(0, petal.darker(140));
        g.setColorAt(0.6, petal);
        g.setColorAt(1, petal.lighter(130));
        p.setBrush(g);
        p.drawEllipse(QRectF(r * 0.1, -r * 0.16, r * 0.95, r * 0.32));
        p.restore();
    }
    QRadialGradient heart(centre, r * 0.25);
    heart.setColorAt(0, QColor(250, 210, 60));
    heart.setColorAt(1, QColor(150, 90, 20));
    p.setBrush(heart);
    p.drawEllipse(centre, r * 0.24, r * 0.24);
}

} // namespace

QImage makePhotoLikeImage(QSize size, int seed) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed) * 7919u + 17u);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        if (seed % 5 == 4)
            paintFlower(p, size, random);
        else
            paintLandscape(p, size, random, seed);
        QRadialGradient vignette(QPointF(size.width() / 2.0, size.height() / 2.0),
                                 std::hypot(size.width(), size.height()) / 2);
        vignette.setColorAt(0.6, QColor(0, 0, 0, 0));
        vignette.setColorAt(1, QColor(0, 0, 0, 90));
        p.fillRect(image.rect(), vignette);
    }
    addGrain(image, random);
    return image;
}

} // namespace vennimo::test
