#include "rope/ClotheslinePhysics.h"
#include "rope/PhotoPendulum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vennimo {
namespace {

constexpr int kMiddle = 48;
constexpr int kLastSample = 96;

TEST(ClotheslinePhysics, EquilibriumSagsUnderLoadsWithinTheSoftLimit) {
    const auto none = ClotheslinePhysics::equilibrium({}, 600);
    for (double value : none)
        EXPECT_EQ(value, 0) << "no loads, no sag";

    const auto atEnds = ClotheslinePhysics::equilibrium({0.0, 1.0, 1.5, -2.0}, 600);
    for (double value : atEnds)
        EXPECT_EQ(value, 0) << "loads at or clamped to the ends weigh nothing";

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const auto one = ClotheslinePhysics::equilibrium({0.5, nan, inf}, 600);
    EXPECT_NEAR(one[kMiddle], 45.0 / (1 + 45.0 / 70), 1e-12) << "one load at 0.5 on a 600-point span";
    EXPECT_NEAR(one[kMiddle], 27.39, 0.01);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(one[kLastSample], 0);
    EXPECT_NEAR(one[24], one[72], 1e-12) << "symmetric tent";
    EXPECT_NEAR(one[24], one[kMiddle] / 2, 1e-12) << "linear flanks";
    for (int i = 1; i <= kMiddle; ++i)
        EXPECT_GT(one[i], one[i - 1]) << "rising toward the load at sample " << i;

    // The stiffness scales with the span between 300 and 1200 points only.
    EXPECT_EQ(ClotheslinePhysics::equilibrium({0.3}, 100), ClotheslinePhysics::equilibrium({0.3}, 300));
    EXPECT_EQ(ClotheslinePhysics::equilibrium({0.3}, 1200), ClotheslinePhysics::equilibrium({0.3}, 5000));
    EXPECT_NE(ClotheslinePhysics::equilibrium({0.3}, 600), ClotheslinePhysics::equilibrium({0.3}, 900));
    EXPECT_EQ(ClotheslinePhysics::equilibrium({0.3}, nan), ClotheslinePhysics::equilibrium({0.3}, 300))
        << "an invalid span counts as the shortest";

    std::vector<double> many(200, 0.5);
    const auto heavy = ClotheslinePhysics::equilibrium(many, 5000);
    EXPECT_LT(heavy[kMiddle], 70) << "never reaches the soft limit";
    EXPECT_GT(heavy[kMiddle], 69);
}

TEST(ClotheslinePhysics, SinglePullIsATentCappedAt36Points) {
    ClotheslinePhysics rope;
    rope.target = ClotheslinePhysics::equilibrium({0.5}, 600);
    const auto before = rope.target;

    for (double at : {0.001, 0.999, 0.0, 1.0, -0.5, 2.0, std::numeric_limits<double>::quiet_NaN()}) {
        rope.pull(at, 100, 1);
        EXPECT_EQ(rope.target, before) << "no pull at " << at;
    }
    rope.pull(0.5, std::numeric_limits<double>::infinity(), 1);
    EXPECT_EQ(rope.target, before) << "a non-finite wish is ignored";

    rope.pull(0.5, before[kMiddle] + 100, 0.5);
    EXPECT_NEAR(rope.target[kMiddle] - before[kMiddle], 18, 1e-12) << "36 points times the amount";
    EXPECT_NEAR(rope.target[24] - before[24], 9, 1e-12) << "falls linearly toward the ends";
    EXPECT_EQ(rope.target[0], before[0]);
    EXPECT_EQ(rope.target[kLastSample], before[kLastSample]);

    ClotheslinePhysics up;
    up.pull(0.25, -10, 1);
    EXPECT_NEAR(up.target[24], -10, 1e-12) << "reaches the wanted height at the pulled point";
    EXPECT_NEAR(up.targetAt(0.25), -10, 1e-12);
    EXPECT_NEAR(up.target[72], -10.0 / 3, 1e-12) << "a third of the way down the long flank";
}

TEST(ClotheslinePhysics, SeveralPullsShapeAPolylineAndAverageDuplicates) {
    ClotheslinePhysics rope;
    rope.pull({{0.5, 10}, {0.5, 20}}, 1);
    EXPECT_NEAR(rope.target[kMiddle], 15, 1e-12) << "two pegs at one place pull by their mean";
    EXPECT_NEAR(rope.target[24], 7.5, 1e-12);

    ClotheslinePhysics unsorted;
    unsorted.pull({{0.75, -8}, {0.25, 4}, {std::numeric_limits<double>::quiet_NaN(), 50}, {0.9995, 30}}, 1);
    EXPECT_NEAR(unsorted.target[24], 4, 1e-12) << "order of the input does not matter";
    EXPECT_NEAR(unsorted.target[72], -8, 1e-12);
    EXPECT_NEAR(unsorted.target[kMiddle], -2, 1e-12) << "straight between the pulled points";
    EXPECT_NEAR(unsorted.target[84], -4, 1e-12) << "back to 0 at the right end";
    EXPECT_EQ(unsorted.target[0], 0);
    EXPECT_EQ(unsorted.target[kLastSample], 0);

    ClotheslinePhysics capped;
    capped.pull({{0.25, 500}, {0.75, -500}}, 0.5);
    EXPECT_NEAR(capped.target[24], 18, 1e-12);
    EXPECT_NEAR(capped.target[72], -18, 1e-12);

    ClotheslinePhysics single;
    ClotheslinePhysics reference;
    single.pull({{0.3, 12}, {1.0, 40}}, 0.7);
    reference.pull(0.3, 12, 0.7);
    EXPECT_EQ(single.target, reference.target) << "one remaining point pulls like the single pull";

    ClotheslinePhysics nothing;
    nothing.pull({{0.0005, 10}, {1.0, 10}}, 1);
    EXPECT_EQ(nothing.target, ClotheslinePhysics().target);
}

ClotheslinePhysics restingRope() {
    ClotheslinePhysics rope;
    rope.target = ClotheslinePhysics::equilibrium({0.2, 0.5, 0.8}, 800);
    rope.displacement = rope.target;
    rope.initialized = true;
    return rope;
}

TEST(ClotheslinePhysics, StepBouncesIntoTheTargetAndSnapsWhenSettled) {
    ClotheslinePhysics rope = restingRope();
    rope.target = ClotheslinePhysics::equilibrium({0.5}, 800);
    const auto target = rope.target;

    ClotheslinePhysics still = rope;
    EXPECT_TRUE(still.step(0, false)) << "far from the target";
    EXPECT_EQ(still.displacement, rope.displacement) << "dt 0 moves nothing";

    ClotheslinePhysics longFrame = rope;
    ClotheslinePhysics cappedFrame = rope;
    longFrame.step(1, false);
    cappedFrame.step(0.05, false);
    EXPECT_EQ(longFrame.displacement, cappedFrame.displacement) << "a 1 s frame integrates 0.05 s";

    bool overshot = false;
    int frames = 0;
    while (rope.step(1.0 / 60, false)) {
        ASSERT_LT(++frames, 2000) << "the rope never settled";
        EXPECT_EQ(rope.displacement[0], 0);
        EXPECT_EQ(rope.displacement[kLastSample], 0);
        overshot = overshot || rope.displacement[kMiddle] > target[kMiddle] + 0.5;
    }
    EXPECT_TRUE(overshot) << "the normal spring bounces";
    EXPECT_EQ(rope.displacement, target) << "settled exactly on the target";
    for (double v : rope.velocity)
        EXPECT_EQ(v, 0);
    EXPECT_FALSE(rope.step(1.0 / 60, false)) << "stays settled";
}

TEST(ClotheslinePhysics, SettleThresholdsOfBothSprings) {
    struct Case {
        bool nonBouncing;
        double distance;
        double speed;
        bool moving;
    };
    const Case cases[] = {
        {false, 0.014, 0, false}, {false, 0.016, 0, true}, {false, 0, 0.039, false}, {false, 0, 0.041, true},
        {true, 0.44, 0, false},   {true, 0.46, 0, true},   {true, 0, 19.9, false},   {true, 0, 20.1, true},
    };
    for (const Case& c : cases) {
        ClotheslinePhysics rope;
        rope.displacement[kMiddle] = c.distance;
        rope.velocity[kMiddle] = c.speed;
        // The end samples are never stepped, so they test the thresholds alone.
        rope.displacement[0] = c.distance;
        rope.velocity[0] = c.speed;
        EXPECT_EQ(rope.step(0, c.nonBouncing), c.moving)
            << "nonBouncing " << c.nonBouncing << " distance " << c.distance << " speed " << c.speed;
        if (!c.moving) {
            EXPECT_EQ(rope.displacement[0], 0) << "snapped onto the target";
            EXPECT_EQ(rope.velocity[0], 0);
        }
    }
}

TEST(ClotheslinePhysics, NonBouncingStepNeverPassesTheTarget) {
    ClotheslinePhysics rope = restingRope();
    rope.target = ClotheslinePhysics::equilibrium({0.5}, 800);
    rope.pull(0.3, -20, 1);
    // One sample starts moving away from its target: that velocity is dropped.
    rope.velocity[30] = rope.target[30] > rope.displacement[30] ? -500 : 500;
    const auto start = rope.displacement;
    int frames = 0;
    bool moving = true;
    while (moving) {
        moving = rope.step(1.0 / 60, true);
        ASSERT_LT(++frames, 500);
        for (int i = 1; i < kLastSample; ++i) {
            const double before = rope.target[i] - start[i];
            const double now = rope.target[i] - rope.displacement[i];
            EXPECT_GE(before * now, 0) << "sample " << i << " crossed its target at frame " << frames;
            EXPECT_LE(std::abs(now), std::abs(before) + 1e-12) << "sample " << i << " moved away";
        }
    }
    EXPECT_EQ(rope.displacement, rope.target);
}

TEST(PhotoPendulum, SwingsIntoItsPoseAndSettlesExactly) {
    PhotoPendulum pendulum;
    pendulum.angle = 8;
    pendulum.offset = -0.1;
    pendulum.targetAngle = -2.5;
    pendulum.targetOffset = 0.11;
    pendulum.stiffness = 90;
    pendulum.damping = 7;

    PhotoPendulum still = pendulum;
    EXPECT_TRUE(still.step(0));
    EXPECT_EQ(still, pendulum) << "dt 0 moves nothing";

    PhotoPendulum longFrame = pendulum;
    PhotoPendulum cappedFrame = pendulum;
    longFrame.step(3);
    cappedFrame.step(0.05);
    EXPECT_EQ(longFrame, cappedFrame) << "a long frame integrates 0.05 s";

    bool overshot = false;
    int frames = 0;
    while (pendulum.step(1.0 / 60)) {
        ASSERT_LT(++frames, 5000) << "never settled";
        overshot = overshot || pendulum.angle < pendulum.targetAngle - 0.5;
    }
    EXPECT_TRUE(overshot) << "a lightly damped print swings past its rest angle";
    EXPECT_EQ(pendulum.angle, -2.5);
    EXPECT_EQ(pendulum.offset, 0.11);
    EXPECT_EQ(pendulum.velocity, 0);
    EXPECT_EQ(pendulum.offsetVelocity, 0);

    struct Case {
        double angle, velocity, offset, offsetVelocity;
        bool moving;
    };
    const Case cases[] = {
        {0.0119, 0, 0, 0, false},  {0.012, 0, 0, 0, true},    {0, 0.0349, 0, 0, false},
        {0, 0.035, 0, 0, true},    {0, 0, 0.00009, 0, false}, {0, 0, 0.0001, 0, true},
        {0, 0, 0, 0.00029, false}, {0, 0, 0, 0.0003, true},
    };
    for (const Case& c : cases) {
        PhotoPendulum p;
        p.angle = c.angle;
        p.velocity = c.velocity;
        p.offset = c.offset;
        p.offsetVelocity = c.offsetVelocity;
        EXPECT_EQ(p.step(0), c.moving)
            << c.angle << " " << c.velocity << " " << c.offset << " " << c.offsetVelocity;
    }

    PhotoPendulum broken;
    broken.targetAngle = 3;
    broken.velocity = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(broken.step(1.0 / 60)) << "a broken swing rests instead of running forever";
    EXPECT_EQ(broken.angle, 3);
}

} // namespace
} // namespace vennimo
