#include "platform/WorkQueue.h"
#include "rendering/PolaroidPreviewGeometry.h"
#include "rendering/PolaroidRenderer.h"
#include "rendering/PreviewToolbarMetrics.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;
using R = PolaroidRenderer;

const double kNan = qQNaN(), kInf = qInf();

void expectRect(const QRectF& r, QRectF e, const char* what, double tolerance = 0.01) {
    for (auto [a, b] :
         {std::pair{r.x(), e.x()}, {r.y(), e.y()}, {r.width(), e.width()}, {r.height(), e.height()}})
        EXPECT_NEAR(a, b, tolerance) << what;
}

PolaroidGeometry print(QSizeF photo, double angle = 0, double offset = 0) {
    return R::geometry(R::defaultSize, photo, angle, offset);
}

TEST(PolaroidGeometry, WindowsKeepTheirAreaBetweenTheLimits) {
    const auto g = print(QSizeF(4000, 3000));
    expectRect(g.imageRect, {g.paperRect.x() + 8, 40, 176.67, 132.50}, "4:3 window");
    EXPECT_NEAR(g.imageRect.width() * g.imageRect.height(), 23408, 1e-6);
    const double paperWidth = g.imageRect.width() + 16;
    expectRect(g.paperRect, {145 - paperWidth / 2, 32, paperWidth, g.imageRect.height() + 30}, "paper", 1e-9);
    expectRect(g.pegRect, {137.5, 3, 15, 47}, "peg", 1e-9);
    EXPECT_EQ(g.pegAnchor, QPointF(145, 20));
    // Unusable photo sizes read as 4:3.
    for (auto [photo, w, h] : {std::tuple{QSizeF(500, 500), 153.0, 153.0},
                               {QSizeF(100, 400), 47.5, 190.0},
                               {QSizeF(4000, 500), 210.0, 26.25},
                               {QSizeF(0, 100), 176.67, 132.5},
                               {QSizeF(-4, 3), 176.67, 132.5},
                               {QSizeF(kNan, 3), 176.67, 132.5},
                               {QSizeF(4, kInf), 176.67, 132.5}}) {
        const QRectF r = print(photo).imageRect;
        EXPECT_NEAR(r.width(), w, 0.01) << photo.width() << "x" << photo.height();
        EXPECT_NEAR(r.height(), h, 0.01) << photo.width() << "x" << photo.height();
    }
    const auto empty = R::geometry(QSizeF(0, 0));
    EXPECT_EQ(empty.canvas, QRectF(0, 0, 0, 0)) << "the canvas is not clamped";
    EXPECT_NEAR(empty.pegAnchor.y(), 20.0 / 292, 1e-9) << "but laid out as 1 x 1";
    const auto unknown = R::geometry(QSizeF(kNan, kInf));
    for (const QRectF& r : {empty.paperRect, empty.pegRect, unknown.paperRect, unknown.imageRect})
        EXPECT_TRUE(std::isfinite(r.x()) && std::isfinite(r.width()) && r.width() > 0);
}

TEST(PolaroidGeometry, SwingAndOffsetTransforms) {
    EXPECT_TRUE(R::geometry().paperTransform.isIdentity());
    // Stretched twice as wide, a quarter turn is still a quarter turn of the design.
    const auto g = R::geometry(QSizeF(580, 292), QSizeF(4, 3), 90);
    const QTransform& t = g.pegTransform;
    EXPECT_NEAR(t.m12(), 0.5, 1e-9);
    EXPECT_NEAR(t.m21(), -2, 1e-9);
    EXPECT_EQ(t.map(g.pegAnchor), g.pegAnchor) << "the anchor stays put";
    EXPECT_EQ(g.paperTransform, g.pegTransform) << "no offset, same swing";
    const auto shifted = print(QSizeF(4, 3), 0, 0.5);
    EXPECT_TRUE(shifted.pegTransform.isIdentity()) << "the peg does not move with the offset";
    EXPECT_NEAR(shifted.paperPath.boundingRect().left(),
                shifted.paperRect.left() - shifted.paperRect.width() / 2, 1e-6);
    // With a swing the offset runs along the paper's own turned x axis.
    const auto both = print(QSizeF(4, 3), 30, 0.25);
    const double shift = 0.25 * both.paperRect.width();
    EXPECT_NEAR(both.paperTransform.dx(), both.pegTransform.dx() - both.pegTransform.m11() * shift, 1e-9);
    EXPECT_NEAR(both.paperTransform.dy(), both.pegTransform.dy() - both.pegTransform.m12() * shift, 1e-9);
}

TEST(PolaroidGeometry, HitTestsAndIndicators) {
    const auto g = R::geometry();
    const QRectF p = g.paperRect;
    EXPECT_TRUE(g.contains(g.imageRect.center()));
    EXPECT_TRUE(g.contains(QPointF(145, 10))) << "on the peg above the paper";
    EXPECT_TRUE(g.contains(QPointF(145, 45))) << "where peg and paper overlap (odd-even would say no)";
    EXPECT_FALSE(g.contains(QPointF(2, 2)));
    EXPECT_FALSE(g.contains(p.topLeft() + QPointF(0.2, 0.2))) << "rounded corner";
    expectRect(g.visibleBounds(), {p.left(), 3, p.width(), p.bottom() - 3}, "peg top to paper bottom", 1e-6);
    expectRect(g.indicatorPath(true).boundingRect(), {p.right() - 16, p.top() - 10, 26, 26}, "badge", 1e-6);
    expectRect(g.indicatorPath(false).boundingRect(), {p.left() - 7, p.top() - 7, 26, 21}, "tag", 1e-6);
    const auto swung = print(QSizeF(4, 3), 12, 0.1);
    const QPointF expected = swung.paperTransform.map(swung.paperRect.topRight() + QPointF(-3, 3));
    const QPointF actual = swung.indicatorPath(true).boundingRect().center();
    EXPECT_NEAR(actual.x(), expected.x(), 1e-3) << "the badge swings with the paper";
    EXPECT_NEAR(actual.y(), expected.y(), 1e-3);
}

TEST(PolaroidGeometry, ImageSizeReadsOrientationAndReadsFilesAgainWhenTheirRecordChanges) {
    // Sizes are read on the queues only; the main thread answers what they learned.
    SerialQueue reader(u"local.vennimo.test.sizes"_s);
    const auto imageSize = [&reader](const Photo& photo) {
        QSizeF size;
        reader.sync([&] { size = R::imageSize(photo); });
        return size;
    };
    const QString folder = test::makeFolder(u"sizes"_s);
    Photo photo;
    photo.id = u"1-1"_s;
    for (char orientation = 1; orientation <= 8; ++orientation) {
        photo.path = folder + u"/turned%1.jpg"_s.arg(int(orientation));
        test::saveImage(test::makeImage(40, 30), photo.path);
        test::writeFile(photo.path, test::withExifOrientation(test::readFile(photo.path), orientation));
        EXPECT_EQ(imageSize(photo), orientation >= 5 ? QSizeF(30, 40) : QSizeF(40, 30))
            << "orientation " << int(orientation);
    }
    const auto g = R::geometry(photo);
    EXPECT_NEAR(g.imageRect.width() / g.imageRect.height(), 0.75, 1e-9) << "the print uses the turned size";
    photo.path = folder + u"/later.png"_s;
    photo.thumbnail = folder + u"/later-thumb.png"_s;
    EXPECT_EQ(imageSize(photo), QSizeF(4, 3));
    test::saveImage(test::makeImage(20, 50), photo.thumbnail);
    EXPECT_EQ(imageSize(photo), QSizeF(4, 3))
        << "files found unreadable are not read again for the same record";
    photo.thumbnailModified = photo.modified + 1;
    EXPECT_EQ(imageSize(photo), QSizeF(20, 50)) << "a thumbnail written since comes with a new record";
    test::saveImage(test::makeImage(64, 48), photo.path);
    EXPECT_EQ(imageSize(photo), QSizeF(20, 50)) << "a found size is cached under its key";
    photo.size = 2;
    EXPECT_EQ(R::imageSize(photo), QSizeF(4, 3)) << "a new key is not read on the main thread";
    EXPECT_EQ(imageSize(photo), QSizeF(64, 48)) << "a new file size, a new key; path first";
    EXPECT_EQ(R::imageSize(photo), QSizeF(64, 48)) << "what the queue read, the main thread knows";
}

TEST(PolaroidPreviewGeometry, LayoutAndPanelPlacement) {
    const QRectF laptop(0, 0, 1440, 900);
    const auto layout = [&](QSizeF photo) { return PolaroidPreviewGeometry::layout(photo, laptop); };
    const auto g = layout(QSizeF(4000, 3000));
    expectRect(g.image, {40, 40, 912, 684}, "photo below the top border");
    expectRect(g.paper, {16, 16, 960, 804}, "paper inside the margin");
    EXPECT_NEAR(g.controlsY, 744, 0.01);
    EXPECT_EQ(g.size, QSizeF(992, 836));
    expectRect(layout(QSizeF(100, 100)).image, {40, 40, 684, 684}, "small images are enlarged");
    expectRect(layout(QSizeF(4000, 500)).image, {40, 40, 1120, 140}, "wide photo");
    const auto narrow = layout(QSizeF(100, 4000));
    EXPECT_NEAR(narrow.paper.width(), 420, 0.01) << "a minimum paper width";
    EXPECT_EQ(layout(QSizeF(0, 0)), layout(QSizeF(1, 1)));
    const auto tiny = PolaroidPreviewGeometry::layout(QSizeF(1000, 1000), QRectF(0, 0, 300, 300));
    expectRect(tiny.paper, {16, 16, 228, 228}, "paper at its smallest");
    expectRect(tiny.image, {76, 40, 108, 108}, "photo at its smallest");
    const QSizeF panel(500, 400);
    for (auto [around, expected] : {std::pair{QPointF(720, 450), QRectF(470, 250, 500, 400)},
                                    {QPointF(1400, 880), QRectF(940, 500, 500, 400)}})
        EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame(panel, around, laptop), expected)
            << "centred where it fits, else pushed inside: " << around.x();
    EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame({2000, 1000}, {1400, 880}, {100, 50, 1440, 900}),
              QRectF(100, 50, 2000, 1000))
        << "larger than the bounds: aligned to their minimum edges";
    const double copy = PreviewToolbarMetrics::width(u"拷贝"_s);
    EXPECT_TRUE(copy == std::ceil(copy) && copy > 24 + 20) << "two 13 point characters, padding, rounded up";
    EXPECT_GT(PreviewToolbarMetrics::width(u"移到废纸篓"_s), copy);
}

TEST(PolaroidPreviewGeometry, ThePapersCutHoldsThePixelsItsDrawingShowsAtLeastHalf) {
    // What the drawn paper shows at least half opaque, pixel by pixel, for the cut to agree with.
    const auto drawn = [](const QRectF& paper, double radius, QSize panel) {
        QImage image(panel, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(250, 248, 242));
        painter.drawRoundedRect(paper, radius, radius);
        painter.end();
        QRegion shown;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) >= 128)
                    shown += QRect(x, y, 1, 1);
        return shown;
    };
    const auto area = [](const QRegion& region) {
        qint64 pixels = 0;
        for (const QRect& r : region)
            pixels += qint64(r.width()) * r.height();
        return pixels;
    };
    const QSize panel(140, 120);
    for (const QRectF& paper :
         {QRectF(16, 16, 100, 80), QRectF(16.5, 15.25, 97.75, 83.4), QRectF(3.3, 7.7, 60, 33)}) {
        for (const double radius : {2.0, 12.0}) {
            const QRegion cut = PolaroidPreviewGeometry::roundedCut(paper, radius);
            const QRegion reference = drawn(paper, radius, panel);
            // Pixels covered just about half way may go either way; a corner or an edge may not.
            EXPECT_LE(area(cut.xored(reference)), 8)
                << "paper " << paper.x() << "," << paper.y() << " " << paper.width() << "x" << paper.height()
                << " radius " << radius;
            EXPECT_EQ(cut.boundingRect(), reference.boundingRect());
        }
    }
    EXPECT_EQ(PolaroidPreviewGeometry::roundedCut(QRectF(10, 20, 30, 40), 0), QRegion(10, 20, 30, 40));
    EXPECT_TRUE(PolaroidPreviewGeometry::roundedCut(QRectF(), 2).isEmpty());
    EXPECT_EQ(area(PolaroidPreviewGeometry::roundedCut(QRectF(0, 0, 20, 20), 100)),
              area(drawn(QRectF(0, 0, 20, 20), 10, QSize(20, 20))))
        << "a radius beyond half the side makes a circle";
}

} // namespace
} // namespace vennimo
