#include "rope/ClotheslineRopeGeometry.h"
#include "rope/PegContactState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vennimo {
namespace {

constexpr double kEpsilon = 1e-9;

ClotheslineRopeGeometry rope(double width, std::vector<double> displacement = {}) {
    return ClotheslineRopeGeometry{width, 12, std::move(displacement)};
}

// The cubic segment of a path evaluated at a Bézier parameter.
QPointF cubicAt(const QPainterPath& path, double t) {
    const QPointF p0 = path.elementAt(0);
    const QPointF c1 = path.elementAt(1);
    const QPointF c2 = path.elementAt(2);
    const QPointF p1 = path.elementAt(3);
    const double s = 1 - t;
    return s * s * s * p0 + 3 * s * s * t * c1 + 3 * s * t * t * c2 + t * t * t * p1;
}

TEST(ClotheslineRopeGeometry, EndsSpanAndSupportFractionOfA980PointCanvas) {
    const ClotheslineRopeGeometry r = rope(980);
    EXPECT_EQ(ClotheslineRopeGeometry::pegX(), 145);
    EXPECT_EQ(r.usableSpan(), 666);
    EXPECT_EQ(r.leftEnd(), QPointF(127, 24));
    EXPECT_EQ(r.rightEnd(), QPointF(853, 24));
    EXPECT_EQ(r.pointAlong(0), r.leftEnd());
    EXPECT_EQ(r.pointAlong(1), r.rightEnd());
    EXPECT_EQ(r.pointAlong(-1), r.leftEnd()) << "parameters are clamped";
    EXPECT_EQ(r.pointAlong(2), r.rightEnd());
    EXPECT_NEAR(r.pointAlong(0.5).y(), 54, kEpsilon) << "the resting rope sags 30 points";
    EXPECT_NEAR(r.pointAlong(0.5).x(), 490, kEpsilon);

    EXPECT_NEAR(r.supportFraction(0), 30.0 / 726, kEpsilon);
    EXPECT_NEAR(r.supportFraction(1), 696.0 / 726, kEpsilon);
    EXPECT_EQ(r.supportFraction(-3), r.supportFraction(0));
    EXPECT_EQ(r.supportFraction(7), r.supportFraction(1));
    EXPECT_EQ(r.supportFraction(std::numeric_limits<double>::quiet_NaN()), r.supportFraction(0));
    for (double x : {0.0, 0.3, 0.5, 1.0})
        EXPECT_NEAR(r.pointAlong(r.supportFraction(x)).x(), 12 + 145 + x * 666, kEpsilon)
            << "the peg of a print at placement " << x;

    for (double width : {315.0, 300.0, 100.0, 0.0, -50.0}) {
        const ClotheslineRopeGeometry narrow = rope(width);
        EXPECT_EQ(narrow.usableSpan(), 1) << "width " << width;
        EXPECT_TRUE(std::isfinite(narrow.supportFraction(0.5)));
        EXPECT_TRUE(std::isfinite(narrow.pointAlong(0.5).y()));
    }
    EXPECT_EQ(rope(316).usableSpan(), 2);

    const auto knots = r.knotRects();
    EXPECT_EQ(knots[0], QRectF(113, 11, 28, 26));
    EXPECT_EQ(knots[1], QRectF(839, 11, 28, 26));
    EXPECT_EQ(r.knotEdge(QPointF(127, 24)), ClotheslineKnotEdge::left);
    EXPECT_EQ(r.knotEdge(QPointF(853, 36)), ClotheslineKnotEdge::right);
    EXPECT_EQ(r.knotEdge(QPointF(490, 24)), std::nullopt);
    EXPECT_EQ(r.knotEdge(QPointF(127, 38)), std::nullopt);
    // Ends 20 points apart: the knots overlap and the left one wins.
    const ClotheslineRopeGeometry tiny = rope(274);
    ASSERT_TRUE(tiny.knotRects()[0].intersects(tiny.knotRects()[1]));
    EXPECT_EQ(tiny.knotEdge(QPointF(137, 24)), ClotheslineKnotEdge::left);

    const auto tacks = r.tackRects();
    EXPECT_EQ(tacks[0], QRectF(111, 8, 32, 32));
    EXPECT_EQ(tacks[1], QRectF(837, 8, 32, 32));
}

TEST(ClotheslineRopeGeometry, DisplacementAddsToTheRestingCurve) {
    std::vector<double> samples(97, 0.0);
    samples[48] = 10;
    samples[49] = 20;
    const ClotheslineRopeGeometry r = rope(980, samples);
    const double u = 48.5 / 96;
    EXPECT_NEAR(r.pointAlong(u).y(), 24 + 120 * u * (1 - u) + 15, kEpsilon) << "interpolated between samples";
    EXPECT_NEAR(r.pointAlong(0.5).y(), 64, kEpsilon);

    const QPainterPath strand = r.strand(0, 1);
    ASSERT_EQ(strand.elementCount(), 97) << "one point per sample";
    for (int i = 0; i < strand.elementCount(); ++i)
        EXPECT_EQ(QPointF(strand.elementAt(i)), r.pointAlong(i / 96.0)) << "sample " << i;

    const QPainterPath part = r.strand(0.25, 0.5);
    EXPECT_EQ(part.elementCount(), 1 + 23 + 1) << "samples strictly inside, then the end point";
    EXPECT_EQ(QPointF(part.elementAt(0)), r.pointAlong(0.25));
    EXPECT_EQ(QPointF(part.elementAt(part.elementCount() - 1)), r.pointAlong(0.5));

    const QPainterPath two = rope(980, {5, -5}).strand(0, 1);
    ASSERT_EQ(two.elementCount(), 2) << "two samples make a straight line";
    EXPECT_EQ(QPointF(two.elementAt(0)), QPointF(127, 29));
    EXPECT_EQ(QPointF(two.elementAt(1)), QPointF(853, 19));
}

TEST(ClotheslineRopeGeometry, RestingStrandIsExactlyTheParabola) {
    const ClotheslineRopeGeometry r = rope(1200);
    for (auto [a, b] : {std::pair{0.0, 1.0}, std::pair{0.2, 0.7}, std::pair{0.6, 0.9}}) {
        const QPainterPath path = r.strand(a, b);
        ASSERT_EQ(path.elementCount(), 4);
        for (double t : {0.0, 0.25, 0.5, 0.8, 1.0}) {
            const QPointF onCurve = cubicAt(path, t);
            const QPointF expected = r.pointAlong(a + t * (b - a));
            EXPECT_NEAR(onCurve.x(), expected.x(), 1e-9) << a << ".." << b << " at " << t;
            EXPECT_NEAR(onCurve.y(), expected.y(), 1e-9) << a << ".." << b << " at " << t;
        }
    }
}

// A 10 x 10 peg whose bottom lies `gap` points above the edge of the 2.6-point strand at the
// middle of a resting 980-point rope.
QPainterPath pegAbove(const ClotheslineRopeGeometry& r, double gap, double x = 490) {
    const double strandTop = r.pointAlong((x - 127) / 726).y() - 1.3;
    QPainterPath peg;
    peg.addRect(QRectF(x - 5, strandTop - gap - 10, 10, 10));
    return peg;
}

TEST(ClotheslineRopeGeometry, TouchTestMeasuresFromTheStrandAndIgnoresKnots) {
    const ClotheslineRopeGeometry r = rope(980);
    EXPECT_TRUE(r.touches(pegAbove(r, 15), 16));
    EXPECT_FALSE(r.touches(pegAbove(r, 17), 16));
    EXPECT_TRUE(r.touches(pegAbove(r, 27), 28));
    EXPECT_FALSE(r.touches(pegAbove(r, 29), 28));
    EXPECT_TRUE(r.touches(pegAbove(r, -5), 0)) << "a peg across the strand";

    QPainterPath overKnot;
    overKnot.addRect(QRectF(120, 0, 30, 60));
    EXPECT_TRUE(r.knotRects()[0].intersects(overKnot.boundingRect()));
    EXPECT_FALSE(r.touches(overKnot, 16)) << "a peg on the left knot never touches";
    QPainterPath overRightKnot;
    overRightKnot.addRect(QRectF(830, 0, 10, 60));
    EXPECT_FALSE(r.touches(overRightKnot, 16));

    // Near the knot but past the outermost peg position: that piece of rope does not count.
    QPainterPath beyondPegs;
    beyondPegs.addRect(QRectF(143, 40, 6, 6));
    EXPECT_FALSE(r.touches(beyondPegs, 0));
}

TEST(PegContactState, ContactBeginsAt16AndEndsBeyond28OfTheLockedRope) {
    const ClotheslineRopeGeometry r = rope(980);
    PegContactState contact;
    EXPECT_FALSE(contact.evaluate(QPointF(490, 0), pegAbove(r, 20), r))
        << "a fresh approach at 20 is too far";
    EXPECT_FALSE(contact.lockedRope.has_value());

    EXPECT_TRUE(contact.evaluate(QPointF(490, 10), pegAbove(r, 10), r));
    ASSERT_TRUE(contact.lockedRope.has_value());
    EXPECT_EQ(*contact.lockedRope, r);

    // The live rope now bends away; contact is judged against the rope locked at its start.
    const ClotheslineRopeGeometry bent = rope(980, std::vector<double>(97, 200.0));
    EXPECT_TRUE(contact.evaluate(QPointF(490, 20), pegAbove(r, 20), bent)) << "within 28 of the locked rope";
    EXPECT_EQ(*contact.lockedRope, r);
    EXPECT_TRUE(contact.evaluate(QPointF(490, 27), pegAbove(r, 27), bent));
    EXPECT_FALSE(contact.evaluate(QPointF(490, 30), pegAbove(r, 30), bent));
    EXPECT_FALSE(contact.lockedRope.has_value()) << "no lock without contact";

    EXPECT_FALSE(contact.evaluate(QPointF(490, 20), pegAbove(r, 20), r)) << "re-approaching needs 16 again";

    // The same point answers the stored result without looking at peg or rope.
    PegContactState repeated;
    EXPECT_TRUE(repeated.evaluate(QPointF(1, 1), pegAbove(r, 5), r));
    EXPECT_TRUE(repeated.evaluate(QPointF(1, 1), pegAbove(r, 500), bent));
    EXPECT_FALSE(repeated.evaluate(QPointF(1, 2), pegAbove(r, 500), r));
}

} // namespace
} // namespace vennimo
