#include "rendering/PhotoDimensions.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vennimo {
namespace {

constexpr double kTolerance = 1e-9;

void expectRect(const QRectF& actual, double x, double y, double w, double h, double tolerance,
                const char* what) {
    EXPECT_NEAR(actual.x(), x, tolerance) << what;
    EXPECT_NEAR(actual.y(), y, tolerance) << what;
    EXPECT_NEAR(actual.width(), w, tolerance) << what;
    EXPECT_NEAR(actual.height(), h, tolerance) << what;
}

TEST(PolaroidGeometry, DesignCanvasWindowsKeepTheirAreaBetweenTheLimits) {
    const auto g = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(4000, 3000));
    EXPECT_EQ(PolaroidRenderer::defaultSize, QSizeF(290, 292));
    EXPECT_EQ(PolaroidRenderer::defaultPegAnchor, QPointF(145, 20));
    EXPECT_NEAR(g.imageRect.width(), 176.67, 0.01) << "4:3 window width";
    EXPECT_NEAR(g.imageRect.height(), 132.50, 0.01) << "4:3 window height";
    EXPECT_NEAR(g.imageRect.width() * g.imageRect.height(), 23408, 1e-6);
    expectRect(g.paperRect, 145 - (g.imageRect.width() + 16) / 2, 32, g.imageRect.width() + 16,
               g.imageRect.height() + 30, kTolerance, "paper around the 4:3 window");
    EXPECT_NEAR(g.imageRect.x(), g.paperRect.x() + 8, kTolerance);
    EXPECT_NEAR(g.imageRect.y(), 40, kTolerance);
    expectRect(g.pegRect, 137.5, 3, 15, 47, kTolerance, "peg");
    EXPECT_EQ(g.pegAnchor, QPointF(145, 20));
    EXPECT_EQ(g.canvas, QRectF(0, 0, 290, 292));

    const auto square = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(500, 500));
    EXPECT_NEAR(square.imageRect.width(), 153.0, 0.01);
    EXPECT_NEAR(square.imageRect.height(), 153.0, 0.01);

    const auto tall = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(100, 400));
    EXPECT_NEAR(tall.imageRect.height(), 190, kTolerance) << "a tall photo is limited by height";
    EXPECT_NEAR(tall.imageRect.width(), 47.5, kTolerance);

    const auto wide = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(4000, 500));
    EXPECT_NEAR(wide.imageRect.width(), 210, kTolerance) << "a wide photo is limited by width";
    EXPECT_NEAR(wide.imageRect.height(), 26.25, kTolerance);

    const auto defaults = PolaroidRenderer::geometry();
    EXPECT_NEAR(defaults.paperRect.top(), 32, kTolerance);
    EXPECT_LE(defaults.imageRect.width(), 210 + kTolerance);
}

TEST(PolaroidGeometry, DegenerateSizesStayFinite) {
    const auto empty = PolaroidRenderer::geometry(QSizeF(0, 0));
    EXPECT_EQ(empty.canvas, QRectF(0, 0, 0, 0)) << "the canvas is not clamped";
    for (const QRectF& r : {empty.paperRect, empty.imageRect, empty.pegRect}) {
        EXPECT_TRUE(std::isfinite(r.x()) && std::isfinite(r.width()) && r.width() > 0);
    }
    EXPECT_NEAR(empty.pegAnchor.x(), 145.0 / 290, kTolerance);
    EXPECT_NEAR(empty.pegAnchor.y(), 20.0 / 292, kTolerance);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const QSizeF bad : {QSizeF(0, 100), QSizeF(-4, 3), QSizeF(nan, 3), QSizeF(4, inf), QSizeF(0, 0)}) {
        const auto g = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, bad);
        EXPECT_NEAR(g.imageRect.width(), 176.67, 0.01) << bad.width() << "x" << bad.height();
        EXPECT_NEAR(g.imageRect.height(), 132.50, 0.01) << bad.width() << "x" << bad.height();
    }
}

TEST(PolaroidGeometry, SwingAndOffsetTransforms) {
    const auto still = PolaroidRenderer::geometry();
    EXPECT_TRUE(still.paperTransform.isIdentity());
    EXPECT_TRUE(still.pegTransform.isIdentity());

    // sx = 2, sy = 1: a quarter turn is still a quarter turn of the design.
    const auto g = PolaroidRenderer::geometry(QSizeF(580, 292), QSizeF(4, 3), 90);
    const QTransform& t = g.pegTransform;
    EXPECT_NEAR(t.m11(), 0, kTolerance);
    EXPECT_NEAR(t.m12(), 0.5, kTolerance) << "b = sin * sy / sx";
    EXPECT_NEAR(t.m21(), -2, kTolerance) << "c = -sin * sx / sy";
    EXPECT_NEAR(t.m22(), 0, kTolerance);
    EXPECT_EQ(t.map(g.pegAnchor), g.pegAnchor) << "the anchor stays put";
    // Design vector (1, 0) is (2, 0) on this canvas; it must come out as design (0, 1) = canvas (0, 1).
    const QPointF turned = t.map(g.pegAnchor + QPointF(2, 0)) - g.pegAnchor;
    EXPECT_NEAR(turned.x(), 0, kTolerance);
    EXPECT_NEAR(turned.y(), 1, kTolerance);
    EXPECT_EQ(g.paperTransform, g.pegTransform) << "no offset, same swing";

    const auto shifted = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(4, 3), 0, 0.5);
    EXPECT_TRUE(shifted.pegTransform.isIdentity()) << "the peg does not move with the offset";
    EXPECT_NEAR(shifted.paperTransform.dx(), -shifted.paperRect.width() / 2, kTolerance);
    EXPECT_NEAR(shifted.paperPath.boundingRect().left(),
                shifted.paperRect.left() - shifted.paperRect.width() / 2, 1e-6);
    EXPECT_EQ(shifted.pegPath.boundingRect(), shifted.pegRect);

    // Offset combined with a swing moves the paper along its own turned x axis.
    const auto both = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(4, 3), 30, 0.25);
    const double shift = 0.25 * both.paperRect.width();
    EXPECT_NEAR(both.paperTransform.dx(), both.pegTransform.dx() - both.pegTransform.m11() * shift,
                kTolerance);
    EXPECT_NEAR(both.paperTransform.dy(), both.pegTransform.dy() - both.pegTransform.m12() * shift,
                kTolerance);
}

TEST(PolaroidGeometry, PathsHitTestsAndIndicators) {
    const auto g = PolaroidRenderer::geometry();
    EXPECT_EQ(g.paperPath.fillRule(), Qt::WindingFill);
    EXPECT_EQ(g.pegPath.fillRule(), Qt::WindingFill);
    EXPECT_TRUE(g.contains(g.imageRect.center())) << "inside the paper";
    EXPECT_TRUE(g.contains(QPointF(145, 10))) << "on the peg above the paper";
    EXPECT_FALSE(g.contains(QPointF(2, 2))) << "empty corner of the canvas";
    EXPECT_FALSE(g.contains(QPointF(g.paperRect.left() + 0.2, g.paperRect.top() + 0.2))) << "rounded corner";
    EXPECT_TRUE(g.contains(QPointF(145, 45))) << "where peg and paper overlap (odd-even would say no)";

    const QRectF bounds = g.visibleBounds();
    EXPECT_NEAR(bounds.top(), 3, 1e-6) << "peg top";
    EXPECT_NEAR(bounds.bottom(), g.paperRect.bottom(), 1e-6);
    EXPECT_NEAR(bounds.left(), g.paperRect.left(), 1e-6);

    const QRectF badge = g.indicatorPath(true).boundingRect();
    expectRect(badge, g.paperRect.right() - 16, g.paperRect.top() - 10, 26, 26, 1e-6, "selection badge");
    const QRectF tag = g.indicatorPath(false).boundingRect();
    expectRect(tag, g.paperRect.left() - 7, g.paperRect.top() - 7, 26, 21, 1e-6, "arrival tag");

    // The badge swings with the paper.
    const auto swung = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, QSizeF(4, 3), 12, 0.1);
    const QPointF circleCentre(swung.paperRect.right() - 3, swung.paperRect.top() + 3);
    const QPointF expected = swung.paperTransform.map(circleCentre);
    const QPointF actual = swung.indicatorPath(true).boundingRect().center();
    EXPECT_NEAR(actual.x(), expected.x(), 1e-3);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-3);
    EXPECT_TRUE(swung.contains(swung.paperTransform.map(swung.imageRect.center())));
    EXPECT_FALSE(swung.contains(swung.imageRect.bottomRight() + QPointF(30, 0)));

    const auto copy = g;
    EXPECT_EQ(copy, g);
}

// Writes a JPEG with an EXIF orientation tag by hand, since Qt's writer stores none.
QByteArray jpegWithOrientation(const QImage& image, quint16 orientation) {
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG");
    }
    QByteArray exif("Exif\0\0", 6);
    exif += QByteArray("MM\0\x2A\0\0\0\x08", 8);
    exif += QByteArray("\0\x01", 2);
    exif += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8);
    exif += char(orientation >> 8);
    exif += char(orientation & 0xff);
    exif += QByteArray("\0\0\0\0\0\0", 6);
    QByteArray segment("\xFF\xE1", 2);
    const int length = exif.size() + 2;
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += exif;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

TEST(PolaroidGeometry, ImageSizeReadsOrientationAndRetriesUnreadableFiles) {
    const QString folder = test::makeFolder(QStringLiteral("sizes"));
    Photo photo;
    photo.id = QStringLiteral("1-1");
    photo.path = folder + QStringLiteral("/turned.jpg");
    photo.modified = 10;
    photo.size = 1;
    test::writeFile(photo.path, jpegWithOrientation(test::makeImage(40, 30), 6));
    EXPECT_EQ(PolaroidRenderer::imageSize(photo), QSizeF(30, 40)) << "orientation 6 swaps the sides";

    Photo upright = photo;
    upright.path = folder + QStringLiteral("/upright.jpg");
    test::writeFile(upright.path, jpegWithOrientation(test::makeImage(40, 30), 3));
    EXPECT_EQ(PolaroidRenderer::imageSize(upright), QSizeF(40, 30)) << "orientation 3 keeps them";

    Photo missing = photo;
    missing.path = folder + QStringLiteral("/later.png");
    missing.thumbnail = folder + QStringLiteral("/later-thumb.png");
    EXPECT_EQ(PolaroidRenderer::imageSize(missing), QSizeF(4, 3));
    test::saveImage(test::makeImage(20, 50), missing.thumbnail);
    EXPECT_EQ(PolaroidRenderer::imageSize(missing), QSizeF(20, 50)) << "the fallback is not cached";
    test::saveImage(test::makeImage(64, 48), missing.path);
    EXPECT_EQ(PolaroidRenderer::imageSize(missing), QSizeF(20, 50)) << "a found size is cached under its key";
    missing.size = 2;
    EXPECT_EQ(PolaroidRenderer::imageSize(missing), QSizeF(64, 48)) << "the path is tried first";

    Photo other = missing;
    for (auto change : {+[](Photo& p) { p.path += QLatin1Char('x'); }, +[](Photo& p) { p.thumbnail.clear(); },
                        +[](Photo& p) { p.modified += 0.5; }, +[](Photo& p) { p.thumbnailModified = 3; },
                        +[](Photo& p) { p.size += 1; }}) {
        Photo changed = missing;
        change(changed);
        EXPECT_NE(PhotoDimensions::key(changed), PhotoDimensions::key(missing));
    }

    const auto g = PolaroidRenderer::geometry(photo);
    EXPECT_NEAR(g.imageRect.width() / g.imageRect.height(), 0.75, 1e-9);
}

} // namespace
} // namespace vennimo
