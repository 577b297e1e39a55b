// Draws the peg and tack artwork of the rope into PNG files: ArtworkGenerator <output folder>.
// The pictures are laid out so that the crop rectangles the renderer cuts from them hold the
// whole peg or tack with a little transparent margin.

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cstdio>

namespace {

QImage blankCanvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// One leg of a wooden clothes peg seen from the front: a long strip, slightly narrower at the
// gripping end, with a lengthwise gradient and grain.
void drawLeg(QPainter& painter, const QRectF& leg, quint32 seed, bool left) {
    QPainterPath outline;
    const double taper = leg.width() * 0.12;
    outline.moveTo(leg.left() + (left ? 0 : taper * 0.3), leg.top() + leg.width() * 0.25);
    outline.quadTo(leg.left(), leg.top(), leg.center().x(), leg.top());
    outline.quadTo(leg.right(), leg.top(), leg.right() - (left ? taper * 0.3 : 0),
                   leg.top() + leg.width() * 0.25);
    outline.lineTo(leg.right() - (left ? taper : 0), leg.bottom() - leg.width() * 0.2);
    outline.quadTo(leg.right() - (left ? taper : 0), leg.bottom(), leg.center().x(), leg.bottom());
    outline.quadTo(leg.left() + (left ? 0 : taper), leg.bottom(), leg.left() + (left ? 0 : taper),
                   leg.bottom() - leg.width() * 0.2);
    outline.closeSubpath();

    QLinearGradient wood(leg.left(), 0, leg.right(), 0);
    wood.setColorAt(0.0, QColor::fromRgbF(0.78, 0.56, 0.32));
    wood.setColorAt(0.25, QColor::fromRgbF(0.93, 0.76, 0.50));
    wood.setColorAt(0.6, QColor::fromRgbF(0.86, 0.65, 0.39));
    wood.setColorAt(1.0, QColor::fromRgbF(0.66, 0.45, 0.23));
    painter.fillPath(outline, wood);

    painter.save();
    painter.setClipPath(outline);
    QRandomGenerator random(seed);
    for (int i = 0; i < 14; ++i) {
        const double x = leg.left() + leg.width() * (0.08 + 0.84 * random.generateDouble());
        const double drift = (random.generateDouble() - 0.5) * leg.width() * 0.15;
        QPainterPath grain;
        grain.moveTo(x, leg.top());
        grain.cubicTo(x + drift, leg.top() + leg.height() * 0.33, x - drift, leg.top() + leg.height() * 0.66,
                      x + drift * 0.5, leg.bottom());
        painter.setPen(QPen(QColor::fromRgbF(0.45, 0.28, 0.12, 0.10 + 0.12 * random.generateDouble()),
                            1.5 + 2.5 * random.generateDouble()));
        painter.drawPath(grain);
    }
    painter.restore();

    painter.setPen(QPen(QColor::fromRgbF(0.36, 0.22, 0.10, 0.55), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
}

// A vertical peg inside `frame`: two legs, the gap between them, and a steel spring coiled
// around both a little above the middle.
void drawPeg(QPainter& painter, const QRectF& frame, quint32 seed) {
    painter.setRenderHint(QPainter::Antialiasing);
    const double gap = frame.width() * 0.05;
    const double legWidth = (frame.width() - gap) / 2;
    const QRectF left(frame.left(), frame.top(), legWidth, frame.height());
    const QRectF right(frame.left() + legWidth + gap, frame.top(), legWidth, frame.height());
    painter.fillRect(
        QRectF(left.right() - 2, frame.top() + frame.height() * 0.05, gap + 4, frame.height() * 0.9),
        QColor::fromRgbF(0.25, 0.15, 0.07, 0.9));
    drawLeg(painter, left, seed, true);
    drawLeg(painter, right, seed + 1, false);

    // The spring: a band of coils with a bright top edge, wider than the peg.
    const double bandTop = frame.top() + frame.height() * 0.58;
    const double bandHeight = frame.height() * 0.07;
    const QRectF band(frame.left() - frame.width() * 0.06, bandTop, frame.width() * 1.12, bandHeight);
    const int coils = 4;
    for (int i = 0; i < coils; ++i) {
        const QRectF coil(band.left(), band.top() + i * bandHeight / coils, band.width(), bandHeight / coils);
        QLinearGradient steel(0, coil.top(), 0, coil.bottom());
        steel.setColorAt(0.0, QColor::fromRgbF(0.86, 0.86, 0.83));
        steel.setColorAt(0.45, QColor::fromRgbF(0.58, 0.58, 0.55));
        steel.setColorAt(1.0, QColor::fromRgbF(0.30, 0.30, 0.28));
        painter.setPen(QPen(QColor::fromRgbF(0.20, 0.20, 0.19, 0.8), 2));
        painter.setBrush(steel);
        painter.drawRoundedRect(coil.adjusted(0, 1, 0, -1), coil.height() / 2, coil.height() / 2);
    }
    // The hole in the legs that the spring passes through, seen as a dark notch above the band.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.22, 0.13, 0.06, 0.85));
    painter.drawEllipse(QPointF(frame.center().x(), bandTop - bandHeight * 0.6), frame.width() * 0.16,
                        bandHeight * 0.35);
}

void drawTack(QPainter& painter, const QRectF& frame) {
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = frame.center();
    const double radius = frame.width() / 2 * 0.96;

    QRadialGradient body(centre + QPointF(-radius * 0.35, -radius * 0.4), radius * 1.45);
    body.setColorAt(0.0, QColor::fromRgbF(1.00, 0.95, 0.72));
    body.setColorAt(0.25, QColor::fromRgbF(0.93, 0.76, 0.36));
    body.setColorAt(0.6, QColor::fromRgbF(0.72, 0.52, 0.18));
    body.setColorAt(1.0, QColor::fromRgbF(0.36, 0.23, 0.06));
    painter.setPen(QPen(QColor::fromRgbF(0.30, 0.19, 0.05, 0.9), radius * 0.02));
    painter.setBrush(body);
    painter.drawEllipse(centre, radius, radius);

    // Reflected light along the lower rim, then the sharp highlight.
    QRadialGradient bounce(centre + QPointF(radius * 0.3, radius * 0.55), radius * 0.5);
    bounce.setColorAt(0.0, QColor::fromRgbF(0.95, 0.78, 0.40, 0.45));
    bounce.setColorAt(1.0, QColor::fromRgbF(0.95, 0.78, 0.40, 0.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(bounce);
    painter.drawEllipse(centre, radius, radius);

    QRadialGradient highlight(centre + QPointF(-radius * 0.38, -radius * 0.42), radius * 0.32);
    highlight.setColorAt(0.0, QColor::fromRgbF(1, 1, 1, 0.95));
    highlight.setColorAt(1.0, QColor::fromRgbF(1, 1, 1, 0.0));
    painter.setBrush(highlight);
    painter.drawEllipse(centre + QPointF(-radius * 0.38, -radius * 0.42), radius * 0.32, radius * 0.32);
}

bool save(const QImage& image, const QString& folder, const char* name) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);

    // Crop (290, 152, 315, 1466) of a 900 x 1770 picture.
    QImage refined = blankCanvas(900, 1770);
    {
        QPainter painter(&refined);
        drawPeg(painter, QRectF(290 + 26, 152 + 12, 315 - 52, 1466 - 24), 7);
    }
    // Crop (156, 150, 940, 947) of a 1250 x 1250 picture.
    QImage tack = blankCanvas(1250, 1250);
    {
        QPainter painter(&tack);
        drawTack(painter, QRectF(156 + 30, 150 + 33, 880, 880));
    }
    // Crop (344, 51, 326, 1434) of a 1000 x 1540 picture.
    QImage plain = blankCanvas(1000, 1540);
    {
        QPainter painter(&plain);
        drawPeg(painter, QRectF(344 + 28, 51 + 12, 326 - 56, 1434 - 24), 11);
    }
    const bool ok = save(refined, folder, "ClotheslinePegRefined") &&
                    save(tack, folder, "ClotheslineBrassSphere") && save(plain, folder, "ClotheslinePeg");
    return ok ? 0 : 1;
}
