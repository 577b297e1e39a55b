#include "rendering/PolaroidRenderer.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "rope/HangingStyle.h"

#include <QCoreApplication>
#include <QPainter>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

int luminance(QColor c) {
    return qGray(c.rgb());
}

TEST(RopeDrawing, StrandPassesBodyCoreAndRaisedHighlight) {
    // A straight strand at y 10, drawn four times magnified so each pass shows in whole pixels.
    QImage image(200, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.scale(4, 4);
        QPainterPath path(QPointF(2, 10));
        path.lineTo(QPointF(48, 10));
        ClotheslineRopeGeometry::drawStrand(painter, path);
    }
    const QColor core = image.pixelColor(100, 40);
    EXPECT_NEAR(core.red(), 176, 3) << "lighter core on the centre line";
    EXPECT_NEAR(core.green(), 161, 3);
    EXPECT_NEAR(core.blue(), 133, 3);
    EXPECT_EQ(core.alpha(), 255);

    const QColor body = image.pixelColor(100, 44);
    EXPECT_NEAR(body.red(), 110, 3) << "dark body outside the core";
    EXPECT_GE(body.alpha(), 240);
    EXPECT_EQ(image.pixelColor(100, 35).alpha(), image.pixelColor(100, 44).alpha())
        << "body symmetric around the line";

    const QColor highlight = image.pixelColor(100, 38);
    EXPECT_GT(luminance(highlight), luminance(core) + 20) << "highlight lies just above the centre line";
    EXPECT_EQ(luminance(image.pixelColor(100, 42)), luminance(image.pixelColor(100, 41)))
        << "no highlight below the centre line";
    EXPECT_EQ(image.pixelColor(100, 47).alpha(), 0) << "2.6 points wide in all";
    EXPECT_EQ(image.pixelColor(100, 32).alpha(), 0);
}

TEST(RopeDrawing, LongStrandHasNoSeams) {
    // Long strands are filled slab by slab; every pixel along the line must look the same.
    for (double scale : {1.0, 2.0}) {
        QImage image(1600, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.scale(scale, scale);
            QPainterPath path(QPointF(5, 10));
            path.lineTo(QPointF(795, 10));
            ClotheslineRopeGeometry::drawStrand(painter, path);
        }
        const int line = static_cast<int>(10 * scale);
        for (int row = line - 3; row <= line + 2; ++row) {
            const QRgb first = image.pixel(20, row);
            for (int x = 20; x < static_cast<int>(780 * scale); ++x) {
                const QRgb pixel = image.pixel(x, row);
                ASSERT_NEAR(qAlpha(pixel), qAlpha(first), 1)
                    << "scale " << scale << " row " << row << " x " << x;
                ASSERT_NEAR(qRed(pixel), qRed(first), 1) << "scale " << scale << " row " << row << " x " << x;
            }
        }
    }
}

TEST(RopeDrawing, StrandMatchesPlainStrokesOfTheSamePath) {
    // The three passes stroked whole by Qt are the reference the faster drawing must match. Qt
    // flattens curves coarsely for thin pens, so a curve's reference is a fine polyline.
    const ClotheslineRopeGeometry rope{980, 12, [] {
                                           std::vector<double> d(97, 0.0);
                                           for (int i = 30; i < 60; ++i)
                                               d[i] = -25.0 * (1 - std::abs(i - 45) / 15.0);
                                           return d;
                                       }()};
    // A pulled rope (polyline through its samples) and the resting one (one curve).
    const QPainterPath pulled = rope.strand(0, 1);
    const ClotheslineRopeGeometry rest{980, 12, {}};
    const QPainterPath resting = rest.strand(0, 1);
    QPainterPath restingFine(rest.pointAlong(0));
    for (int i = 1; i <= 1000; ++i)
        restingFine.lineTo(rest.pointAlong(i / 1000.0));
    struct Case {
        QPainterPath path;
        QPainterPath referencePath;
        double scale;
    };
    for (const auto& [path, referencePath, scale] :
         {Case{pulled, pulled, 1}, Case{pulled, pulled, 2}, Case{resting, restingFine, 1},
          Case{resting, restingFine, 3}}) {
        QImage fast(static_cast<int>(980 * scale), static_cast<int>(120 * scale),
                    QImage::Format_ARGB32_Premultiplied);
        fast.fill(Qt::transparent);
        QImage reference = fast;
        {
            QPainter painter(&fast);
            painter.scale(scale, scale);
            ClotheslineRopeGeometry::drawStrand(painter, path);
        }
        {
            QPainter painter(&reference);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(scale, scale);
            const auto pen = [](QColor color, double width) {
                QPen p(color, width);
                p.setCapStyle(Qt::RoundCap);
                p.setJoinStyle(Qt::RoundJoin);
                return p;
            };
            painter.strokePath(referencePath, pen(QColor::fromRgbF(0.43, 0.39, 0.32, 0.95), 2.6));
            painter.strokePath(referencePath, pen(QColor::fromRgbF(0.69, 0.63, 0.52, 1.0), 1.65));
            painter.strokePath(referencePath.translated(0, -0.35),
                               pen(QColor::fromRgbF(0.9, 0.86, 0.76, 0.65), 0.45));
        }
        int differing = 0;
        double total = 0;
        int painted = 0;
        for (int y = 0; y < fast.height(); ++y) {
            for (int x = 0; x < fast.width(); ++x) {
                const QRgb a = fast.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                const int diff = std::max({std::abs(qAlpha(a) - qAlpha(b)), std::abs(qRed(a) - qRed(b)),
                                           std::abs(qGreen(a) - qGreen(b))});
                differing += diff > 24 ? 1 : 0;
                total += diff;
                painted += qAlpha(b) > 0 ? 1 : 0;
            }
        }
        EXPECT_GT(painted, 980 * scale * 2) << "the reference drew the rope";
        // Only where the joins are drawn a little differently, at the sharp bend.
        EXPECT_LE(differing, 16) << "scale " << scale;
        EXPECT_LE(total / painted, 3.0) << "scale " << scale;
    }
}

TEST(RopeDrawing, BrassTackIsLitFromTheTopLeftWithItsShadowBelow) {
    const QImage sphere = ClotheslineRopeGeometry::makeBrassTack(std::nullopt);
    ASSERT_EQ(sphere.size(), QSize(128, 128));
    EXPECT_EQ(sphere.devicePixelRatio(), 4);
    EXPECT_EQ(sphere.deviceIndependentSize(), QSizeF(32, 32));
    const QColor centre = sphere.pixelColor(64, 64);
    EXPECT_EQ(centre.alpha(), 255);
    EXPECT_GT(centre.red(), centre.green()) << "brass";
    EXPECT_GT(centre.green(), centre.blue());
    EXPECT_GT(luminance(sphere.pixelColor(48, 48)), luminance(sphere.pixelColor(82, 82)) + 40)
        << "bright toward the top left, dark toward the bottom right";
    EXPECT_EQ(sphere.pixelColor(2, 2).alpha(), 0);
    EXPECT_GT(sphere.pixelColor(70, 99).alpha(), 10) << "the soft shadow falls below the tack";
    EXPECT_EQ(sphere.pixelColor(58, 28).alpha(), 0) << "and not above it";

    QImage red(40, 40, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    const QImage art = ClotheslineRopeGeometry::makeBrassTack(red);
    EXPECT_EQ(art.pixelColor(64, 64), QColor(Qt::red)) << "artwork drawn into the tack square";
    EXPECT_EQ(art.pixelColor(20, 64).alpha(), 0) << "only inside the 15-point square";
    EXPECT_GT(art.pixelColor(80, 99).alpha(), 10) << "with its shadow below";
    EXPECT_EQ(art.pixelColor(64, 28).alpha(), 0);

    const QImage& shared = ClotheslineRopeGeometry::brassTack();
    EXPECT_EQ(&shared, &ClotheslineRopeGeometry::brassTack()) << "made once";
    EXPECT_EQ(shared.size(), QSize(128, 128));
    EXPECT_EQ(shared.pixelColor(64, 64).alpha(), 255);
}

struct Scene {
    ClotheslineRopeGeometry rope;
    std::vector<double> placements;
};

Scene restingScene() {
    Scene scene;
    scene.rope = ClotheslineRopeGeometry{980, 12, {}};
    scene.placements = {0.0, 0.25, 0.5, 0.75, 1.0};
    std::vector<double> loads;
    for (double x : scene.placements)
        loads.push_back(scene.rope.supportFraction(x));
    const auto sag = ClotheslinePhysics::equilibrium(loads, scene.rope.usableSpan() + 60);
    scene.rope.displacement.assign(sag.begin(), sag.end());
    return scene;
}

void drawPrints(QPainter& painter, const Scene& scene) {
    const HangingStyle style{false, false};
    const QSizeF imageSizes[] = {{4000, 3000}, {3000, 4000}, {1200, 1200}, {1920, 1080}, {3000, 4000}};
    for (std::size_t i = 0; i < scene.placements.size(); ++i) {
        const HangingStyle::Pose pose = style.pose(QStringLiteral("photo-%1").arg(i), imageSizes[i]);
        const auto geometry =
            PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, imageSizes[i], pose.angle, pose.offset);
        const QPointF peg = scene.rope.pointAlong(scene.rope.supportFraction(scene.placements[i]));
        painter.save();
        painter.translate(peg - PolaroidRenderer::defaultPegAnchor);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.setBrush(QColor(250, 248, 242));
        painter.drawPath(geometry.paperPath);
        painter.save();
        painter.setTransform(geometry.paperTransform, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromHsv(static_cast<int>(40 + 60 * i), 90, 170));
        painter.drawRect(geometry.imageRect);
        painter.restore();
        painter.setPen(QPen(QColor(90, 60, 30), 0.8));
        painter.setBrush(QColor(196, 160, 112));
        painter.drawPath(geometry.pegPath);
        painter.restore();
    }
}

TEST(RopeDrawing, RopeWithFivePrintsAtRest) {
    const Scene scene = restingScene();
    QImage rope(980, 452, QImage::Format_ARGB32_Premultiplied);
    rope.fill(Qt::transparent);
    {
        QPainter painter(&rope);
        scene.rope.draw(painter);
    }
    const auto tacks = scene.rope.tackRects();
    for (const QRectF& tack : tacks) {
        const QColor brass = rope.pixelColor(tack.center().toPoint());
        EXPECT_EQ(brass.alpha(), 255) << "tack at each end";
        EXPECT_GT(brass.red(), brass.blue() + 40);
    }
    // The rope between the first two pegs: drawn at its point, clear 6 points above and below.
    const QPointF between = scene.rope.pointAlong(scene.rope.supportFraction(0.125));
    const QPoint onRope = between.toPoint();
    EXPECT_GT(rope.pixelColor(onRope).alpha(), 200);
    EXPECT_EQ(rope.pixelColor(onRope - QPoint(0, 6)).alpha(), 0);
    EXPECT_EQ(rope.pixelColor(onRope + QPoint(0, 6)).alpha(), 0);
    EXPECT_GT(between.y(), 24 + 120 * 0.125 * 0.875) << "sagging below the resting curve under the prints";
    const QPointF middle = scene.rope.pointAlong(0.5);
    EXPECT_GT(middle.y(), 54 + 20) << "five prints pull the middle well down";
    EXPECT_LT(middle.y(), 54 + 70);

    // The picture to look at: a wall, the rope with its tacks and five prints hanging from it.
    QImage picture(rope.size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(232, 228, 220));
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawImage(QPointF(0, 0), rope);
        drawPrints(painter, scene);
    }
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/rope-at-rest.png");
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
    // The left end magnified, where tack, shadow and strand meet.
    const QImage end =
        picture.copy(QRect(95, 0, 100, 70)).scaled(400, 280, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_TRUE(end.save(QCoreApplication::applicationDirPath() + QStringLiteral("/rope-left-end-x4.png")));
}

} // namespace
} // namespace vennimo
