#include "canvas/ClotheslineFrameCompositor.h"
#include "rendering/PolaroidRenderer.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <deque>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr QSize kCanvas{640, 380};

// Twelve overlapping real prints at assorted angles and sub-point positions over a rope, some
// with a badge, each layer left only what the opaque papers above it do not hide.
struct Scene {
    std::deque<ClotheslinePhotoSlot> slots;
    ClotheslineRopeGeometry rope{kCanvas.width(), 12, {}};

    Scene() {
        const QString folder = makeFolder("compositor");
        saveImage(makeImage(400, 300), folder + "/a.png");
        Photo photo;
        photo.id = "a";
        photo.path = folder + "/a.png";
        const QSizeF size = PolaroidRenderer::defaultSize;
        const QImage paper = PolaroidRenderer::image(photo, size, 2, PolaroidRenderer::kPaper);
        const QImage peg = PolaroidRenderer::image(photo, size, 2, PolaroidRenderer::kPeg);
        const QImage badge = PolaroidRenderer::image(photo, size, 2, PolaroidRenderer::kArrival);
        for (int i = 0; i < 12; ++i) {
            const PolaroidGeometry g = PolaroidRenderer::geometry(photo, size, -6 + 1.1 * i, 0.02 * (i % 3));
            ClotheslinePhotoSlot& slot = slots.emplace_back();
            slot.update({QRectF(10 + 29.3 * i, 12 + 7.7 * (i % 4), size.width(), size.height()), paper, peg,
                         i % 3 == 0 ? badge : QImage(), g.paperTransform, g.pegTransform, g.paperRect});
            slot.setZ(i);
        }
    }

    QList<ClotheslineFrameCompositor::Layer> layers(const QRegion& dirty) const {
        QList<ClotheslineFrameCompositor::Layer> result(qsizetype(slots.size()));
        QRegion covered;
        for (qsizetype i = result.size() - 1; i >= 0; --i) {
            const ClotheslinePhotoSlot& slot = slots[std::size_t(i)];
            result[i] = {&slot, (dirty & slot.bounds().toAlignedRect()) - covered};
            const QRectF cover = slot.coveredRect();
            covered += QRect(QPoint(int(std::ceil(cover.left())), int(std::ceil(cover.top()))),
                             QPoint(int(std::floor(cover.right())) - 1, int(std::floor(cover.bottom())) - 1));
        }
        return result;
    }
    ClotheslineFrameCompositor::Background background() const {
        return [rope = rope](QPainter& p) { rope.draw(p); };
    }
    QRectF ropeArea() const { return QRectF(0, 0, kCanvas.width(), 80); }
};

QImage blankTarget(double scale) {
    QImage image(kCanvas * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(qRgba(10, 200, 30, 255)); // a marker: painting never reaches it outside the dirty area
    image.setDevicePixelRatio(scale);
    return image;
}

// Paints the dirty area once through the compositor and once with one painter.
std::pair<QImage, QImage> paintBoth(const Scene& scene, ClotheslineFrameCompositor& compositor, double scale,
                                    const QTransform& world, const QRegion& dirty) {
    QImage banded = blankTarget(scale);
    QImage direct = blankTarget(scale);
    {
        QPainter p(&banded);
        p.setWorldTransform(world);
        compositor.paint(p, dirty, scene.ropeArea(), scene.background(), scene.layers(dirty));
    }
    {
        QPainter p(&direct);
        p.setWorldTransform(world);
        ClotheslineFrameCompositor::paintDirectly(p, dirty, scene.background(), scene.layers(dirty));
    }
    return {banded, direct};
}

} // namespace

TEST(ClotheslineFrameCompositor, BandsPaintWhatOnePainterPaints) {
    const Scene scene;
    ClotheslineFrameCompositor compositor;
    compositor.setMaximumBands(6);
    const QRegion whole(QRect(QPoint(0, 0), kCanvas));
    const QRegion twoParts = QRegion(20, 5, 300, 200) | QRegion(350, 150, 250, 220);
    struct Case {
        double scale;
        QTransform world;
        QRegion dirty;
    };
    // Scale 2, scale 1 under a whole-pixel shift (a widget inside its window), and a dirty area
    // in two pieces, outside which the target keeps its pixels.
    for (const Case& c :
         {Case{2, {}, whole}, Case{1, QTransform::fromTranslate(7, 5), whole}, Case{2, {}, twoParts}}) {
        const auto [banded, direct] = paintBoth(scene, compositor, c.scale, c.world, c.dirty);
        EXPECT_GT(compositor.lastBandCount(), 1) << c.scale;
        const ImageDifference d = imageDifference(banded, direct);
        EXPECT_LE(d.largest, 2) << c.scale;
        EXPECT_LT(d.pixels, banded.width() * banded.height() / 1000) << c.scale;
    }
}

TEST(ClotheslineFrameCompositor, OtherScalesAndSmallAreasArePaintedDirectly) {
    const Scene scene;
    ClotheslineFrameCompositor compositor;
    for (const auto& [world, dirty] : {std::pair{QTransform::fromScale(1.5, 1.5), QRegion(0, 0, 400, 240)},
                                       std::pair{QTransform(), QRegion(300, 30, 6, 6)}}) {
        const auto [banded, direct] = paintBoth(scene, compositor, 1, world, dirty);
        EXPECT_EQ(compositor.lastBandCount(), 0);
        EXPECT_EQ(banded, direct);
    }
}
