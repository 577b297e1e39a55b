#include "rope/ClotheslineRopeGeometry.h"
#include "platform/UserDefaults.h"
#include "rendering/PolaroidRenderer.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/HangingStyle.h"
#include "rope/PegContactState.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vennimo {
namespace {

ClotheslineRopeGeometry rope(double width, std::vector<double> displacement = {}) {
    return ClotheslineRopeGeometry{width, 12, std::move(displacement)};
}

TEST(ClotheslineRopeGeometry, EndsSpanSupportFractionAndKnotsOfA980PointCanvas) {
    const ClotheslineRopeGeometry r = rope(980);
    EXPECT_EQ(r.usableSpan(), 666);
    EXPECT_EQ(r.pointAlong(-1), QPointF(127, 24)) << "parameters are clamped";
    EXPECT_NEAR(r.pointAlong(0.5).y(), 54, 1e-9) << "the resting rope sags 30 points";
    EXPECT_NEAR(r.supportFraction(0), 30.0 / 726, 1e-9);
    EXPECT_EQ(r.supportFraction(std::numeric_limits<double>::quiet_NaN()), r.supportFraction(0));
    for (double x : {0.0, 0.3, 1.0})
        EXPECT_NEAR(r.pointAlong(r.supportFraction(x)).x(), 12 + 145 + x * 666, 1e-9) << x;

    for (const ClotheslineRopeGeometry& narrow : {rope(315), rope(100), rope(-50)})
        EXPECT_TRUE(narrow.usableSpan() == 1 &&
                    std::isfinite(narrow.pointAlong(narrow.supportFraction(0.5)).y()));
    EXPECT_EQ(rope(316).usableSpan(), 2);

    EXPECT_EQ(r.tackRects()[1], QRectF(837, 8, 32, 32));
    EXPECT_EQ(r.knotEdge(QPointF(853, 36)), ClotheslineKnotEdge::right);
    EXPECT_EQ(r.knotEdge(QPointF(127, 38)), std::nullopt);
    EXPECT_EQ(rope(274).knotEdge(QPointF(137, 24)), ClotheslineKnotEdge::left) << "overlap";
}

TEST(ClotheslineRopeGeometry, StrandFollowsTheSamplesOrExactlyTheRestingParabola) {
    std::vector<double> samples(97, 0.0);
    samples[48] = 10;
    samples[49] = 20;
    const ClotheslineRopeGeometry r = rope(980, samples);
    const double u = 48.5 / 96;
    EXPECT_NEAR(r.pointAlong(u).y(), 24 + 120 * u * (1 - u) + 15, 1e-9) << "interpolated between samples";
    const QPainterPath strand = r.strand(0, 1);
    ASSERT_EQ(strand.elementCount(), 97) << "one point per sample";
    for (int i = 0; i < 97; ++i)
        EXPECT_EQ(QPointF(strand.elementAt(i)), r.pointAlong(i / 96.0)) << "sample " << i;
    const QPainterPath slice = r.strand(0.25, 0.5);
    EXPECT_EQ(slice.elementCount(), 1 + 23 + 1) << "samples strictly inside, then the end point";
    EXPECT_EQ(QPointF(slice.elementAt(24)), r.pointAlong(0.5));

    const ClotheslineRopeGeometry resting = rope(980);
    for (auto [a, b] : {std::pair{0.0, 1.0}, std::pair{0.6, 0.9}}) {
        const QPainterPath path = resting.strand(a, b);
        ASSERT_EQ(path.elementCount(), 4) << "the resting strand is one cubic";
        const QList<QPolygonF> flattened = path.toSubpathPolygons();
        for (const QPointF& p : flattened.front())
            EXPECT_NEAR(p.y(), resting.pointAlong((p.x() - 127) / 726).y(), 1e-9)
                << a << ".." << b << " at " << p.x();
    }
}

// A 10 x 10 peg whose bottom lies `gap` points above the top edge of the 2.6-point strand.
QPainterPath pegAbove(const ClotheslineRopeGeometry& r, double gap) {
    QPainterPath peg;
    peg.addRect(QRectF(485, r.pointAlong(363.0 / 726).y() - 1.3 - gap - 10, 10, 10));
    return peg;
}

TEST(PegContactState, TouchBeginsAt16AndEndsBeyond28OfTheLockedRopeAwayFromTheKnots) {
    const ClotheslineRopeGeometry r = rope(980);
    EXPECT_TRUE(r.touches(pegAbove(r, 15), 16));
    EXPECT_FALSE(r.touches(pegAbove(r, 17), 16));
    for (QRectF knotOrBeyondPegs : {QRectF(120, 0, 30, 60), QRectF(830, 0, 10, 60), QRectF(143, 40, 6, 6)}) {
        QPainterPath peg;
        peg.addRect(knotOrBeyondPegs);
        EXPECT_FALSE(r.touches(peg, 0)) << "knots and rope outside the peg positions never touch";
    }

    PegContactState contact;
    EXPECT_TRUE(contact.evaluate(QPointF(490, 10), pegAbove(r, 10), r));
    ASSERT_EQ(contact.lockedRope, r);
    // The live rope bends away; contact is judged against the rope locked at its start.
    const ClotheslineRopeGeometry bent = rope(980, std::vector<double>(97, 200.0));
    EXPECT_TRUE(contact.evaluate(QPointF(490, 20), pegAbove(r, 20), bent));
    EXPECT_TRUE(contact.evaluate(QPointF(490, 27), pegAbove(r, 27), bent)) << "within 28 of the locked rope";
    EXPECT_FALSE(contact.evaluate(QPointF(490, 30), pegAbove(r, 30), bent));
    EXPECT_FALSE(contact.lockedRope.has_value()) << "no lock without contact";
    EXPECT_FALSE(contact.evaluate(QPointF(490, 20), pegAbove(r, 20), r)) << "re-approaching needs 16 again";

    EXPECT_FALSE(contact.evaluate(QPointF(490, 20), pegAbove(r, 5), r))
        << "the same point answers the stored result without looking at peg or rope";
}

TEST(HangingStyle, TitlesStoredChoiceAndPosesByTheIdentityHash) {
    EXPECT_EQ((HangingStyle{true, false}.title()), QStringLiteral("偏心 · 自然"));
    EXPECT_EQ(HangingStyle::current(), (HangingStyle{false, true})) << "a fresh installation";
    UserDefaults::standard().setString(QLatin1String(UserDefaults::kClotheslineStrictVerticalKey), "no");
    UserDefaults::standard().setClotheslineOffCenterPeg(true);
    EXPECT_EQ(HangingStyle::current(), (HangingStyle{true, true})) << "ill-typed counts as absent";

    EXPECT_EQ(HangingStyle::identityHash(QStringLiteral("照片")), 0x42d5aec518ccead7ULL);
    const QSizeF portrait(3000, 4000);
    const HangingStyle centred{false, false}, offCentre{true, false};
    EXPECT_NEAR(centred.pose(QStringLiteral("abc"), portrait).angle, 2.212, 1e-12);
    const auto pose = offCentre.pose(QStringLiteral("abc"), portrait);
    EXPECT_NEAR(pose.offset, 0.11275, 1e-12);
    // Drawn in that pose, the paper's centre hangs straight below the off-centre peg.
    const auto hanging =
        PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, portrait, pose.angle, pose.offset);
    const QPointF centre = hanging.paperTransform.map(hanging.paperRect.center());
    EXPECT_NEAR(centre.x(), hanging.pegAnchor.x(), 1e-9);
    EXPECT_TRUE(centre.y() > hanging.pegAnchor.y() && pose.angle < -1) << "the tilt opposes the offset";
    EXPECT_EQ(offCentre.pose(QStringLiteral("abc"), QSizeF(8000, 300)).angle, -9) << "a very short photo";

    for (int i = 0; i < 200; ++i) {
        const QString id = QStringLiteral("id-%1").arg(i);
        const bool even = HangingStyle::identityHash(id) % 2 == 0;
        const double angle = centred.pose(id, portrait).angle;
        EXPECT_EQ((HangingStyle{false, true}.pose(id, portrait)), HangingStyle::Pose{}) << id.toStdString();
        const auto upright = HangingStyle{true, true}.pose(id, portrait);
        EXPECT_TRUE(upright.angle == 0 && std::abs(upright.offset) >= 0.1 &&
                    std::abs(upright.offset) <= 0.12475 + 1e-12);
        EXPECT_TRUE(std::abs(angle) >= 1.6 && std::abs(angle) <= 2.788 + 1e-12) << id.toStdString();
        EXPECT_TRUE((angle < 0) == even && (offCentre.pose(id, portrait).offset < 0) == even);
    }
}

QImage canvas(QSize size, double scale, const std::function<void(QPainter&)>& draw) {
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    draw(painter);
    return image;
}

int difference(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qAlpha(a) - qAlpha(b)), std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b))});
}

TEST(RopeDrawing, StrandMatchesPlainStrokesOfItsThreePassesWithoutSeams) {
    std::vector<double> bend(97, 0.0);
    for (int i = 30; i < 60; ++i)
        bend[i] = -25.0 * (1 - std::abs(i - 45) / 15.0);
    const QPainterPath pulled = ClotheslineRopeGeometry{980, 12, bend}.strand(0, 1);
    const ClotheslineRopeGeometry rest{980, 12, {}};
    // Qt flattens curves coarsely for thin pens, so the resting curve's reference is a fine polyline.
    QPainterPath restingFine(rest.pointAlong(0));
    for (int i = 1; i <= 1000; ++i)
        restingFine.lineTo(rest.pointAlong(i / 1000.0));
    QPainterPath straight(QPointF(5, 60));
    straight.lineTo(QPointF(975, 60));
    using Case = std::tuple<QPainterPath, QPainterPath, double>;
    for (const auto& [path, referencePath, scale] :
         {Case{pulled, pulled, 1}, Case{pulled, pulled, 2}, Case{rest.strand(0, 1), restingFine, 3},
          Case{straight, straight, 1}, Case{straight, straight, 2}}) {
        const QImage fast =
            canvas({980, 120}, scale, [&](QPainter& p) { ClotheslineRopeGeometry::drawStrand(p, path); });
        const QImage reference = canvas({980, 120}, scale, [&](QPainter& p) {
            const auto pen = [](double r, double g, double b, double a, double width) {
                return QPen(QColor::fromRgbF(r, g, b, a), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            };
            p.strokePath(referencePath, pen(0.43, 0.39, 0.32, 0.95, 2.6));
            p.strokePath(referencePath, pen(0.69, 0.63, 0.52, 1.0, 1.65));
            p.strokePath(referencePath.translated(0, -0.35), pen(0.9, 0.86, 0.76, 0.65, 0.45));
        });
        int differing = 0, painted = 1;
        double total = 0;
        for (int y = 0; y < fast.height(); ++y) {
            for (int x = 0; x < fast.width(); ++x) {
                const int diff = difference(fast.pixel(x, y), reference.pixel(x, y));
                differing += diff > 24 ? 1 : 0;
                total += diff;
                painted += qAlpha(reference.pixel(x, y)) > 0 ? 1 : 0;
            }
        }
        // Only where the joins are drawn a little differently, at the sharp bend.
        EXPECT_LE(differing, 16) << "scale " << scale;
        EXPECT_LE(total / painted, 3.0) << "scale " << scale;
        // Long strands are filled slab by slab; every pixel along a straight line must look the same.
        for (int y = int(60 * scale) - 3; path == straight && y <= int(60 * scale) + 2; ++y)
            for (int x = 20; x < 960 * scale; ++x)
                ASSERT_LE(difference(fast.pixel(x, y), fast.pixel(20, y)), 1)
                    << "seam at " << scale << " x " << x;
    }
}

TEST(RopeDrawing, BrassTackIsLitFromTheTopLeftWithItsShadowBelow) {
    const QImage sphere = ClotheslineRopeGeometry::makeBrassTack(std::nullopt);
    ASSERT_EQ(sphere.deviceIndependentSize(), QSizeF(32, 32)) << "32 points at 4 pixels per point";
    const QColor centre = sphere.pixelColor(64, 64);
    EXPECT_TRUE(centre.alpha() == 255 && centre.red() > centre.green() && centre.green() > centre.blue());
    EXPECT_GT(qGray(sphere.pixel(48, 48)), qGray(sphere.pixel(82, 82)) + 40) << "lit from the top left";
    EXPECT_TRUE(qAlpha(sphere.pixel(70, 99)) > 10 && qAlpha(sphere.pixel(58, 28)) == 0);
    QImage red(40, 40, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    const QImage art = ClotheslineRopeGeometry::makeBrassTack(red);
    EXPECT_TRUE(art.pixelColor(64, 64) == Qt::red && qAlpha(art.pixel(80, 99)) > 10);
}

TEST(RopeDrawing, RopeWithFivePrintsAtRest) {
    ClotheslineRopeGeometry rope{980, 12, {}};
    const double placements[] = {0.0, 0.25, 0.5, 0.75, 1.0};
    std::vector<double> loads;
    for (double x : placements)
        loads.push_back(rope.supportFraction(x));
    const auto sag = ClotheslinePhysics::equilibrium(loads, rope.usableSpan() + 60);
    rope.displacement.assign(sag.begin(), sag.end());

    const QImage drawn = canvas({980, 452}, 1, [&](QPainter& p) { rope.draw(p); });
    for (const QRectF& tack : rope.tackRects())
        EXPECT_GT(qRed(drawn.pixel(tack.center().toPoint())),
                  qBlue(drawn.pixel(tack.center().toPoint())) + 40)
            << "brass tack";
    // The rope between the first two pegs: drawn at its point, clear 6 points above and below.
    const QPointF between = rope.pointAlong(rope.supportFraction(0.125));
    const QPoint p = between.toPoint();
    EXPECT_TRUE(qAlpha(drawn.pixel(p)) > 200 &&
                qAlpha(drawn.pixel(p - QPoint(0, 6))) + qAlpha(drawn.pixel(p + QPoint(0, 6))) == 0);
    EXPECT_GT(between.y(), 24 + 120 * 0.125 * 0.875) << "sagging below the resting curve under the prints";
    EXPECT_NEAR(rope.pointAlong(0.5).y(), 54 + 45, 25) << "five prints pull the middle well down";
}

} // namespace
} // namespace vennimo
