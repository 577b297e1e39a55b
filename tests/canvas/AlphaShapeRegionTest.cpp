#include "canvas/AlphaShapeRegion.h"
#include "platform/X11InputShape.h"

#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <vector>

using namespace vennimo;

namespace {

QImage clear(int width, int height, QImage::Format format = QImage::Format_ARGB32_Premultiplied) {
    QImage image(width, height, format);
    image.fill(Qt::transparent);
    return image;
}

// The same cut worked out pixel by pixel: shown where any pixel within `spread` (a square) shows.
QRegion bruteForce(const QImage& frame, int spread) {
    QRegion region;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            bool shown = false;
            for (int dy = -spread; dy <= spread && !shown; ++dy)
                for (int dx = -spread; dx <= spread && !shown; ++dx) {
                    const QPoint p(x + dx, y + dy);
                    shown = frame.rect().contains(p) && AlphaShapeRegion::shows(frame.pixel(p));
                }
            if (shown)
                region += QRect(x, y, 1, 1);
        }
    return region;
}

} // namespace

TEST(AlphaShapeRegion, CutsToThePixelsAtLeastHalfOpaqueWidenedAndClippedToTheFrame) {
    QImage frame = clear(6, 3, QImage::Format_ARGB32);
    frame.setPixel(0, 0, qRgba(200, 100, 50, 127));
    frame.setPixel(1, 0, qRgba(200, 100, 50, 128));
    frame.setPixel(2, 0, qRgba(10, 20, 30, 255));
    EXPECT_EQ(AlphaShapeRegion::of(frame, 0), QRegion(1, 0, 2, 1)) << "below half: cut away";
    EXPECT_EQ(AlphaShapeRegion::of(frame.convertToFormat(QImage::Format_ARGB32_Premultiplied), 0),
              QRegion(1, 0, 2, 1));
    EXPECT_EQ(AlphaShapeRegion::of(frame.convertToFormat(QImage::Format_RGBA8888), 0), QRegion(1, 0, 2, 1))
        << "other layouts are read by their alpha too";

    // One pixel widens to a square, cut at the frame's edges.
    QImage dot = clear(9, 9);
    dot.setPixel(4, 4, qRgba(255, 255, 255, 255));
    EXPECT_EQ(AlphaShapeRegion::of(dot, 1), QRegion(3, 3, 3, 3));
    QImage corner = clear(9, 9);
    corner.setPixel(0, 8, qRgba(255, 255, 255, 255));
    EXPECT_EQ(AlphaShapeRegion::of(corner, 2), QRegion(0, 6, 3, 3));
    EXPECT_EQ(AlphaShapeRegion::of(corner, 1000), QRegion(0, 0, 9, 9)) << "the spread is bounded";

    EXPECT_TRUE(AlphaShapeRegion::of(clear(40, 20), 2).isEmpty()) << "nothing drawn, nothing shows";
    EXPECT_TRUE(AlphaShapeRegion::of(QImage(), 1).isEmpty());
    QImage opaque(7, 5, QImage::Format_RGB32);
    opaque.fill(Qt::black);
    EXPECT_EQ(AlphaShapeRegion::of(opaque, 1), QRegion(0, 0, 7, 5)) << "no alpha: the whole frame shows";
}

TEST(AlphaShapeRegion, ShadowsThatAddUpBeyondHalfStayCutAwayWhileTranslucentColoursShow) {
    // A pile of prints, each a light paper over a soft black shadow a little lower: where a dozen
    // shadows overlap they are well over half opaque, and the X server would show them black.
    QImage frame = clear(120, 60);
    {
        QPainter p(&frame);
        for (int i = 0; i < 12; ++i) {
            p.fillRect(QRect(10 + 4 * i, 14, 40, 36), QColor(0, 0, 0, 56));
            p.fillRect(QRect(10 + 4 * i, 10, 40, 36), QColor(244, 240, 232));
        }
        p.fillRect(QRect(100, 10, 6, 6), QColor(0, 0, 0));
        p.fillRect(QRect(100, 30, 6, 6), QColor(230, 180, 90, 160));
    }
    ASSERT_GT(qAlpha(frame.pixel(60, 48)), 200) << "the shadows add up";
    const QRegion cut = AlphaShapeRegion::of(frame, 0);
    EXPECT_FALSE(cut.contains(QPoint(60, 48))) << "the pile's shadow is cut away";
    EXPECT_TRUE(cut.contains(QPoint(60, 20))) << "the paper shows";
    EXPECT_TRUE(cut.contains(QPoint(102, 12))) << "an opaque black shows";
    EXPECT_TRUE(cut.contains(QPoint(102, 32))) << "a translucent colour shows";
    EXPECT_TRUE(cut.xored(bruteForce(frame, 0)).isEmpty());

    EXPECT_FALSE(AlphaShapeRegion::shows(qRgba(0, 0, 0, 200)));
    EXPECT_FALSE(AlphaShapeRegion::shows(qRgba(8, 8, 8, 200)));
    EXPECT_TRUE(AlphaShapeRegion::shows(qRgba(30, 20, 10, 200))) << "a dark colour is not a shadow";
    EXPECT_TRUE(AlphaShapeRegion::shows(qRgba(0, 0, 0, 255)));
    EXPECT_FALSE(AlphaShapeRegion::shows(qRgba(120, 120, 120, 120))) << "below half";
}

TEST(AlphaShapeRegion, TheFaintEdgeOfAPaperOverAPilesShadowsIsCutAwayWhileDrawnBlackShows) {
    // Under the front print of a pile the shadows add up to nearly opaque; the paper's faint lower
    // edge over them is near black and at least half opaque (values read from a real frame).
    constexpr quint32 paper = 0xfff4f0e8u;
    constexpr quint32 shadow = 0xd9000000u;
    QImage frame = clear(60, 40);
    const auto column = [&frame](int x, const std::vector<quint32>& pixels) {
        for (int y = 0; y < int(pixels.size()); ++y)
            frame.setPixel(x, y, pixels[size_t(y)]);
    };
    for (int x = 0; x < 60; ++x) {
        std::vector<quint32> pixels(10, paper);
        if (x < 20) {
            pixels.insert(pixels.end(), {0xee0f0f0fu, shadow, shadow});
        } else if (x < 40) {
            pixels.insert(pixels.end(), {0xff020202u, 0xff000000u, 0xfd000000u, shadow});
        } else if (x < 50) {
            // A black drawn under the paper, three rows tall.
            pixels.insert(pixels.end(), {0xff000000u, 0xff000000u, 0xff050505u, shadow});
        } else {
            // A black photo in its paper: black ends in paper.
            pixels.insert(pixels.end(), {0xff000000u, paper, 0xee0f0f0fu, shadow});
        }
        column(x, pixels);
    }
    // A thin black line drawn on its own.
    for (int x = 0; x < 30; ++x)
        frame.setPixel(x, 30, 0xff000000u);

    const QRegion cut = AlphaShapeRegion::of(frame, 0);
    EXPECT_TRUE(cut.contains(QPoint(5, 9))) << "the paper shows";
    EXPECT_FALSE(cut.contains(QPoint(5, 10))) << "a faint edge over shadows";
    EXPECT_FALSE(cut.contains(QPoint(25, 10))) << "an opaque edge over opaque shadows";
    EXPECT_FALSE(cut.contains(QPoint(25, 11)));
    EXPECT_TRUE(cut.contains(QPoint(45, 10)) && cut.contains(QPoint(45, 12))) << "a drawn black";
    EXPECT_TRUE(cut.contains(QPoint(55, 10))) << "black in its paper";
    EXPECT_FALSE(cut.contains(QPoint(55, 12))) << "the paper's own edge below it";
    EXPECT_TRUE(cut.contains(QPoint(10, 30))) << "a black line with nothing light above";
}

TEST(AlphaShapeRegion, AgreesWithAPixelByPixelCutOnStrandsAndNoise) {
    // A thin antialiased strand, a tilted card and scattered specks, with neighbouring spans that
    // merge once widened.
    QImage frame = clear(97, 61);
    {
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath strand(QPointF(2, 10));
        strand.cubicTo(30, 40, 60, 40, 95, 12);
        p.setPen(QPen(QColor(120, 90, 60), 1.2));
        p.drawPath(strand);
        p.translate(50, 30);
        p.rotate(9);
        p.fillRect(QRectF(-12, -8, 24, 30), QColor(250, 248, 245, 230));
    }
    QRandomGenerator random(7);
    for (int i = 0; i < 60; ++i) {
        const int alpha = random.bounded(256);
        frame.setPixel(random.bounded(97), random.bounded(61), qRgba(alpha, alpha, alpha, alpha));
    }
    for (const int spread : {0, 1, 3}) {
        const QRegion cut = AlphaShapeRegion::of(frame, spread);
        // Regions made different ways can hold the same pixels in different rectangles.
        EXPECT_TRUE(cut.xored(bruteForce(frame, spread)).isEmpty()) << "spread " << spread;
        EXPECT_EQ(cut.intersected(QRect(0, 0, 97, 61)), cut);
    }
    // The strand has no gaps even without widening: some pixel of every column is half opaque.
    QImage strandOnly = clear(97, 61);
    {
        QPainter p(&strandOnly);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath strand(QPointF(2, 10));
        strand.cubicTo(30, 40, 60, 40, 95, 12);
        p.setPen(QPen(QColor(120, 90, 60), 1.2));
        p.drawPath(strand);
    }
    const QRegion line = AlphaShapeRegion::of(strandOnly, 0);
    for (int x = 3; x < 94; ++x)
        EXPECT_FALSE(line.intersected(QRect(x, 0, 1, 61)).isEmpty()) << "a gap at x " << x;
}

namespace {

// Where `region` leaves out a pixel of `frame` that shows, or strays outside the
// frame; empty when it holds every drawn pixel.
QString missedPixel(const QImage& frame, const QRegion& region) {
    if (!QRegion(frame.rect()).contains(region.boundingRect()))
        return QStringLiteral("outside the frame");
    QImage cover(frame.size(), QImage::Format_Grayscale8);
    cover.fill(0);
    {
        QPainter p(&cover);
        p.setClipRegion(region);
        p.fillRect(cover.rect(), Qt::white);
    }
    const QImage argb = frame.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < frame.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        const uchar* shown = cover.constScanLine(y);
        for (int x = 0; x < frame.width(); ++x)
            if (AlphaShapeRegion::shows(qPremultiply(line[x])) && shown[x] == 0)
                return QStringLiteral("%1,%2").arg(x).arg(y);
    }
    return {};
}

} // namespace

TEST(AlphaShapeRegion, AFrameWhoseAlphaAlternatesFinelyIsCutCoarserWithinTheRectangleBound) {
    // A whole-screen rope frame whose every other pixel is opaque, a checkerboard: cut pixel by
    // pixel it would take 3.58 million rectangles, a request the X server refuses.
    QImage frame = clear(7680, 932);
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        for (int x = y % 2; x < frame.width(); x += 2)
            line[x] = 0xff806040u;
    }
    const QRegion cut = AlphaShapeRegion::of(frame, 0);
    EXPECT_LE(cut.rectCount(), AlphaShapeRegion::kMaximumRectangles);
    EXPECT_EQ(missedPixel(frame, cut), QString()) << "a drawn pixel is cut away";

    // A rope whose left end is noisy and whose prints are clean: the noise is cut coarser, but the
    // empty rope between them stays clear, and the cut never leaves out a drawn pixel.
    QImage rope = clear(2400, 460);
    {
        QPainter p(&rope);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(120, 90, 60), 2));
        p.drawLine(QPointF(0, 24), QPointF(2400, 40));
        p.translate(1800, 60);
        p.rotate(-4);
        p.fillRect(QRectF(0, 0, 250, 280), QColor(250, 248, 245));
    }
    QRandomGenerator random(11);
    for (int y = 100; y < 400; ++y)
        for (int x = 20; x < 420; ++x)
            if (random.bounded(2))
                rope.setPixel(x, y, qRgba(200, 200, 200, 255));
    for (const int spread : {0, 2}) {
        const QRegion coarse = AlphaShapeRegion::of(rope, spread, 600);
        EXPECT_LE(coarse.rectCount(), 600) << "spread " << spread;
        EXPECT_EQ(missedPixel(rope, coarse), QString()) << "spread " << spread;
        EXPECT_FALSE(coarse.contains(QPoint(1200, 300))) << "the clear middle of the rope shows";
        EXPECT_FALSE(coarse.contains(QPoint(100, 450))) << "clear below the noise shows";
    }
}

TEST(AlphaShapeRegion, ACutOfExactlyTheBoundStaysPixelExactAndOneBeyondItIsCutCoarser) {
    // Ten specks on rows of their own: ten bands of one rectangle each.
    QImage specks = clear(40, 40);
    for (int i = 0; i < 10; ++i)
        specks.setPixel(3 * i + 1, 4 * i + 1, qRgba(255, 255, 255, 255));
    const QRegion exact = bruteForce(specks, 0);
    ASSERT_EQ(exact.rectCount(), 10);
    EXPECT_TRUE(AlphaShapeRegion::of(specks, 0, 10).xored(exact).isEmpty())
        << "a cut that just fits is made coarser";
    EXPECT_TRUE(AlphaShapeRegion::of(specks, 0, 11).xored(exact).isEmpty());
    const QRegion coarse = AlphaShapeRegion::of(specks, 0, 9);
    EXPECT_LE(coarse.rectCount(), 9);
    EXPECT_EQ(missedPixel(specks, coarse), QString());
    EXPECT_FALSE(coarse.xored(exact).isEmpty()) << "a cut over the bound is sent as it is";
}

TEST(AlphaShapeRegion, TheCutOfANoisyFrameFitsOneShapeRequestOfAServerWithoutBigRequests) {
    // Speckled noise over a print-sized area: cut pixel by pixel it takes some 40,000 rectangles.
    QImage noise = clear(420, 420);
    QRandomGenerator random(5);
    int runs = 0;
    for (int y = 0; y < noise.height(); ++y) {
        bool previous = false;
        for (int x = 0; x < noise.width(); ++x) {
            const bool drawn = random.bounded(2) == 1;
            if (drawn)
                noise.setPixel(x, y, qRgba(90, 90, 90, 255));
            runs += drawn && !previous ? 1 : 0;
            previous = drawn;
        }
    }
    ASSERT_GT(runs, 32765);
    const QRegion cut = AlphaShapeRegion::of(noise, 0);
    EXPECT_EQ(missedPixel(noise, cut), QString());
    // The core protocol's longest request is 65,535 four-byte units; a shape request takes four of
    // them and two for each rectangle. The window's shape code joins the bands of anything larger,
    // showing whole rows of clear pixels black.
    EXPECT_LE(cut.rectCount(), (65535 - 4) / 2);
    EXPECT_TRUE(X11InputShape::bounded(cut, X11InputShape::kMaximumRectangles).xored(cut).isEmpty())
        << cut.rectCount() << " rectangles: the window's shape code has to join them";
}
