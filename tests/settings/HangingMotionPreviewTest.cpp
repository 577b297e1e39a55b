#include "settings/HangingMotionPreview.h"

#include "platform/ReduceMotion.h"

#include <gtest/gtest.h>

namespace vennimo {
namespace {

struct ReducedMotion {
    explicit ReducedMotion(bool on) {
        ReduceMotion::setReader([on] { return std::optional<bool>(on); });
        ReduceMotion::reload();
    }
    ~ReducedMotion() {
        ReduceMotion::setReader({});
        ReduceMotion::reload();
    }
};

TEST(HangingMotionPreview, KicksAwayFromVerticalSwingsAHundredTicksAndRestsExactly) {
    ReducedMotion motion(false);
    const HangingStyle natural{false, false};
    const QList<PhotoPendulum> start = HangingMotionPreview::startPoses(natural);
    ASSERT_EQ(start.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const HangingStyle::Pose rest =
            natural.pose(HangingMotionPreview::identity(i), HangingMotionPreview::ratios()[size_t(i)]);
        EXPECT_DOUBLE_EQ(start[i].targetAngle, rest.angle);
        EXPECT_DOUBLE_EQ(std::abs(start[i].angle), std::abs(rest.angle) + 3.2) << "kicked away from vertical";
        EXPECT_EQ(start[i].angle >= 0, rest.angle >= 0);
        EXPECT_EQ(start[i].damping, 8);
        EXPECT_EQ(start[i].stiffness, 95);
    }
    EXPECT_EQ(HangingMotionPreview::startPoses({true, false})[0].damping, 6.5);
    for (const PhotoPendulum& upright : HangingMotionPreview::startPoses({true, true})) {
        EXPECT_EQ(upright.angle, 0);
        EXPECT_EQ(upright.stiffness, 120);
    }

    HangingMotionPreview preview(natural);
    EXPECT_TRUE(preview.poses().isEmpty()) << "rest poses until a run starts";
    EXPECT_EQ(preview.elapsed(), 3.0);
    preview.restart();
    EXPECT_EQ(preview.elapsed(), 0);
    EXPECT_EQ(preview.animationKey(), QStringLiteral("false-false-0-false"));
    for (int i = 0; i < 5; ++i)
        preview.tick();
    EXPECT_NE(preview.poses()[0].angle, preview.poses()[0].targetAngle) << "swinging";
    for (int i = 5; i < 99; ++i)
        preview.tick();
    EXPECT_TRUE(preview.running());
    preview.tick();
    EXPECT_FALSE(preview.running()) << "exactly a hundred ticks";
    EXPECT_NEAR(preview.elapsed(), 3.0, 1e-9);
    for (const PhotoPendulum& pose : preview.poses()) {
        EXPECT_EQ(pose.angle, pose.targetAngle);
        EXPECT_EQ(pose.offset, pose.targetOffset);
        EXPECT_EQ(pose.velocity, 0);
    }
    EXPECT_NEAR(HangingMotionPreview::bounce(0.1, false), 3 * std::sin(1.0) * std::exp(-0.3), 1e-12);
}

TEST(HangingMotionPreview, ReduceMotionRestsAtOnceOnAStillRope) {
    ReducedMotion motion(true);
    HangingMotionPreview preview({true, false});
    preview.setReplay(4);
    preview.restart();
    EXPECT_FALSE(preview.running());
    EXPECT_EQ(preview.elapsed(), 3.0);
    EXPECT_EQ(HangingMotionPreview::bounce(0.1, true), 0);
    EXPECT_EQ(preview.animationKey(), QStringLiteral("true-false-4-true"));
    for (const PhotoPendulum& pose : preview.poses())
        EXPECT_EQ(pose.angle, pose.targetAngle);
}

} // namespace
} // namespace vennimo
