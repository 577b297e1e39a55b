#include "rope/ClotheslinePhysics.h"
#include "platform/DisplayLink.h"
#include "rope/PhotoPendulum.h"
#include "rope/RopeDisplayLinkTarget.h"

#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vennimo {
namespace {

constexpr int kMiddle = 48;
constexpr int kLast = 96;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
using Rope = ClotheslinePhysics;

TEST(ClotheslinePhysics, EquilibriumSagsUnderLoadsWithinTheSoftLimit) {
    EXPECT_EQ(Rope::equilibrium({0.0, 1.0, 1.5, -2.0}, 600), Rope::Samples{}) << "loads at the ends";
    const auto one = Rope::equilibrium({0.5, kNaN, kInf}, 600);
    EXPECT_NEAR(one[kMiddle], 27.39, 0.01) << "one load at 0.5 on a 600-point span";
    EXPECT_NEAR(one[24], one[kMiddle] / 2, 1e-12) << "linear flanks";
    // The stiffness scales with the span between 300 and 1200 points only.
    EXPECT_EQ(Rope::equilibrium({0.3}, 100), Rope::equilibrium({0.3}, 300));
    EXPECT_EQ(Rope::equilibrium({0.3}, kNaN), Rope::equilibrium({0.3}, 300)) << "invalid span";
    EXPECT_EQ(Rope::equilibrium({0.3}, 1200), Rope::equilibrium({0.3}, 5000));
    const double heavy = Rope::equilibrium(std::vector<double>(200, 0.5), 5000)[kMiddle];
    EXPECT_TRUE(heavy > 69 && heavy < 70) << "never reaches the soft limit: " << heavy;
}

Rope::Samples pulled(const std::vector<RopePullPoint>& points, double amount) {
    Rope rope;
    points.size() == 1 ? rope.pull(points[0].fraction, points[0].displacement, amount)
                       : rope.pull(points, amount);
    return rope.target;
}

TEST(ClotheslinePhysics, PullsBendTheTargetIntoCappedTentsAndPolylines) {
    for (RopePullPoint none :
         {RopePullPoint{0.001, 100}, {0.999, 100}, {-0.5, 100}, {2, 100}, {kNaN, 100}, {0.5, kInf}})
        EXPECT_EQ(pulled({none}, 1), Rope::Samples{}) << none.fraction;

    // Single pulls are capped at 36 points times the amount; several make a polyline through their
    // points in any order, pegs at one place pulling by their mean.
    const std::tuple<std::vector<RopePullPoint>, double, std::vector<std::pair<int, double>>> cases[] = {
        {{{0.5, 100}}, 0.5, {{kMiddle, 18}, {24, 9}, {0, 0}}},
        {{{0.25, -10}}, 1, {{24, -10}, {72, -10.0 / 3}}},
        {{{0.5, 10}, {0.5, 20}}, 1, {{kMiddle, 15}, {24, 7.5}}},
        {{{0.75, -8}, {0.25, 4}, {kNaN, 50}, {0.9995, 30}},
         1,
         {{24, 4}, {kMiddle, -2}, {72, -8}, {kLast, 0}}},
        {{{0.25, 500}, {0.75, -500}}, 0.5, {{24, 18}, {72, -18}}},
    };
    for (const auto& [points, amount, expected] : cases)
        for (auto [i, value] : expected)
            EXPECT_NEAR(pulled(points, amount)[i], value, 1e-12)
                << points.size() << " points from " << points[0].fraction << ", sample " << i;
}

TEST(ClotheslinePhysics, StepsSettleExactlyOnTheTargetAndOnlyTheNormalSpringBounces) {
    for (bool nonBouncing : {false, true}) {
        SCOPED_TRACE(nonBouncing ? "non-bouncing" : "normal");
        Rope rope;
        rope.displacement = Rope::equilibrium({0.2, 0.5, 0.8}, 800);
        rope.target = Rope::equilibrium({0.5}, 800);
        if (nonBouncing) {
            rope.pull(0.3, -20, 1);
            // One sample starts moving away from its target: that velocity is dropped.
            rope.velocity[30] = rope.target[30] > rope.displacement[30] ? -500 : 500;
        }
        Rope longFrame = rope, cappedFrame = rope;
        longFrame.step(1, nonBouncing);
        cappedFrame.step(0.05, nonBouncing);
        EXPECT_EQ(longFrame.displacement, cappedFrame.displacement) << "a 1 s frame integrates 0.05 s";
        const auto start = rope.displacement;
        bool overshot = false;
        for (int frames = 0; rope.step(1.0 / 60, nonBouncing);) {
            ASSERT_LT(++frames, 2000) << "the rope never settled";
            ASSERT_TRUE(rope.displacement[0] == 0 && rope.displacement[kLast] == 0) << "the ends never move";
            for (int i = 1; i < kLast; ++i) {
                const double before = rope.target[i] - start[i], now = rope.target[i] - rope.displacement[i];
                overshot = overshot || (before * now < 0 && std::abs(now) > 0.5);
                ASSERT_TRUE(!nonBouncing || (before * now >= 0 && std::abs(now) <= std::abs(before) + 1e-12))
                    << "sample " << i << " crossed its target or moved away at frame " << frames;
            }
        }
        EXPECT_EQ(overshot, !nonBouncing) << "only the normal spring bounces";
        EXPECT_EQ(rope.displacement, rope.target) << "settled exactly on the target";
        EXPECT_EQ(rope.velocity, Rope::Samples{});
    }

    // Settle thresholds of distance and speed for both springs, tested on an end sample that is
    // never stepped: just below, the sample snaps onto its target; just above, the rope moves.
    for (auto [nonBouncing, distance, speed] :
         {std::tuple{false, 0.015, 0.04}, std::tuple{true, 0.45, 20.0}}) {
        for (double factor : {0.97, 1.03}) {
            Rope byDistance, bySpeed;
            byDistance.displacement[0] = distance * factor;
            bySpeed.velocity[0] = speed * factor;
            EXPECT_EQ(byDistance.step(0, nonBouncing), factor > 1) << nonBouncing << " distance x " << factor;
            EXPECT_EQ(bySpeed.step(0, nonBouncing), factor > 1) << nonBouncing << " speed x " << factor;
            EXPECT_EQ(factor > 1, byDistance.displacement[0] != 0 && bySpeed.velocity[0] != 0) << "snapped";
        }
    }
}

TEST(PhotoPendulum, SwingsIntoItsPoseAndSettlesExactly) {
    PhotoPendulum pendulum{
        .angle = 8, .offset = -0.1, .targetAngle = -2.5, .targetOffset = 0.11, .damping = 7, .stiffness = 90};
    PhotoPendulum longFrame = pendulum, cappedFrame = pendulum;
    longFrame.step(3);
    cappedFrame.step(0.05);
    EXPECT_EQ(longFrame, cappedFrame) << "a long frame integrates 0.05 s";

    bool overshot = false;
    for (int frames = 0; pendulum.step(1.0 / 60);) {
        ASSERT_LT(++frames, 5000) << "never settled";
        overshot = overshot || pendulum.angle < pendulum.targetAngle - 0.5;
    }
    EXPECT_TRUE(overshot) << "a lightly damped print swings past its rest angle";
    EXPECT_EQ(pendulum, (PhotoPendulum{-2.5, 0, 0.11, 0, -2.5, 0.11, 7, 90})) << "exactly at rest";

    // Settle thresholds of angle, its speed, offset and its speed: rests just below, moves at each.
    for (auto [field, threshold] : {std::pair{&PhotoPendulum::angle, 0.012},
                                    {&PhotoPendulum::velocity, 0.035},
                                    {&PhotoPendulum::offset, 0.0001},
                                    {&PhotoPendulum::offsetVelocity, 0.0003}}) {
        PhotoPendulum below, at;
        below.*field = threshold * 0.99;
        at.*field = threshold;
        EXPECT_FALSE(below.step(0)) << threshold;
        EXPECT_TRUE(at.step(0)) << threshold;
    }

    PhotoPendulum broken{.velocity = kInf, .targetAngle = 3};
    EXPECT_FALSE(broken.step(1.0 / 60)) << "a broken swing rests instead of running forever";
    EXPECT_EQ(broken.angle, 3);
}

class FakeCanvas : public QObject, public RopePhysicsCanvas {
public:
    void physicsFrame(DisplayLink& link) override {
        stamps.push_back(link.timestamp());
        EXPECT_GT(link.targetTimestamp(), link.timestamp());
    }
    std::vector<double> stamps;
};

TEST(RopeDisplayLinkTarget, TicksReachTheCanvasOnlyWhileItLivesAndStopWithTheLink) {
    auto target = std::make_shared<RopeDisplayLinkTarget>();
    DisplayLink link([target](DisplayLink& l) { target->tick(l); });
    auto canvas = std::make_unique<FakeCanvas>();
    link.deliverFrame(1, 1.016);
    target->setCanvas(canvas.get());
    link.deliverFrame(2, 2.016);
    EXPECT_EQ(canvas->stamps, std::vector<double>{2}) << "frames only while it is the canvas";

    link.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return canvas->stamps.size() >= 4; }, 10000));
    link.invalidate();
    EXPECT_LT(canvas->stamps[2], canvas->stamps.back()) << "on a monotonic clock";
    const std::size_t count = canvas->stamps.size();
    QTest::qWait(40);
    EXPECT_EQ(canvas->stamps.size(), count) << "no frames after invalidate";
    canvas.reset();
    EXPECT_EQ(target->canvas(), nullptr) << "held weakly";
    link.deliverFrame(5, 5.016);
}

} // namespace
} // namespace vennimo
