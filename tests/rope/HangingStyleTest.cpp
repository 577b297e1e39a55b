#include "rope/HangingStyle.h"
#include "platform/UserDefaults.h"
#include "rendering/PolaroidRenderer.h"

#include <QSet>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace vennimo {
namespace {

const QSizeF kPortrait(3000, 4000);

TEST(HangingStyle, TitlesAndStoredChoice) {
    EXPECT_EQ((HangingStyle{false, true}.title()), QStringLiteral("居中 · 垂直"));
    EXPECT_EQ((HangingStyle{false, false}.title()), QStringLiteral("居中 · 自然"));
    EXPECT_EQ((HangingStyle{true, true}.title()), QStringLiteral("偏心 · 垂直"));
    EXPECT_EQ((HangingStyle{true, false}.title()), QStringLiteral("偏心 · 自然"));
    const QSet<HangingStyle> all{{false, true}, {false, false}, {true, true}, {true, false}};
    EXPECT_EQ(all.size(), 4);

    EXPECT_EQ(HangingStyle::current(), (HangingStyle{false, true}))
        << "a fresh installation: centred, upright";
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(QLatin1String(UserDefaults::kClotheslineStrictVerticalKey), QStringLiteral("no"));
    defaults.setString(QLatin1String(UserDefaults::kClotheslineOffCenterPegKey), QStringLiteral("yes"));
    EXPECT_EQ(HangingStyle::current(), (HangingStyle{false, true}))
        << "values of another type count as absent";
    defaults.setClotheslineOffCenterPeg(true);
    defaults.setClotheslineStrictVertical(false);
    EXPECT_EQ(HangingStyle::current(), (HangingStyle{true, false}));
}

TEST(HangingStyle, PosesFollowTheIdentityHash) {
    EXPECT_EQ(HangingStyle::identityHash(QStringLiteral("abc")), 0xe71fa2190541574bULL);
    EXPECT_EQ(HangingStyle::identityHash(QString()), 0xcbf29ce484222325ULL);

    const QSizeF size = PolaroidRenderer::geometry().imageRect.size();
    const auto centred = HangingStyle{false, false}.pose(QStringLiteral("abc"), size);
    EXPECT_NEAR(centred.angle, 2.212, 1e-12) << "odd hash: positive, r = 0.51";
    EXPECT_EQ(centred.offset, 0);
    EXPECT_NEAR((HangingStyle{false, false}.pose(QString(), size).angle), 1.6 + 1.2 * 0.75, 1e-12)
        << "the empty identity: r = 0.75";

    const auto offCentre = HangingStyle{true, false}.pose(QStringLiteral("abc"), kPortrait);
    EXPECT_NEAR(offCentre.offset, 0.11275, 1e-12);
    // The paper's centre hangs below the off-centre peg: the tilt opposes the offset.
    const auto geometry = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, kPortrait);
    const double drop = geometry.paperRect.center().y() - 20;
    const double expected = std::atan2(-geometry.paperRect.width() * 0.11275, drop) * 180 / std::numbers::pi;
    EXPECT_NEAR(offCentre.angle, expected, 1e-9);
    EXPECT_LT(offCentre.angle, -1);
    EXPECT_GT(offCentre.angle, -9);
    // Drawn in that pose, the paper's centre hangs straight below the peg.
    const auto hanging = PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, kPortrait, offCentre.angle,
                                                    offCentre.offset);
    const QPointF centre = hanging.paperTransform.map(hanging.paperRect.center());
    EXPECT_NEAR(centre.x(), hanging.pegAnchor.x(), 1e-9);
    EXPECT_GT(centre.y(), hanging.pegAnchor.y());

    const auto flat = HangingStyle{true, false}.pose(QStringLiteral("abc"), QSizeF(8000, 300));
    EXPECT_EQ(flat.angle, -9) << "a very short photo is held at 9 degrees";

    QString even;
    for (int i = 0; even.isEmpty(); ++i) {
        const QString candidate = QStringLiteral("photo-%1").arg(i);
        if (HangingStyle::identityHash(candidate) % 2 == 0)
            even = candidate;
    }
    EXPECT_LT((HangingStyle{false, false}.pose(even, size).angle), -1.59) << "even hash tilts the other way";
    const auto evenOffCentre = HangingStyle{true, false}.pose(even, kPortrait);
    EXPECT_LT(evenOffCentre.offset, -0.0999);
    EXPECT_GT(evenOffCentre.angle, 1);

    for (int i = 0; i < 200; ++i) {
        const QString id = QStringLiteral("id-%1").arg(i);
        const auto upright = HangingStyle{false, true}.pose(id, size);
        EXPECT_EQ(upright, HangingStyle::Pose{}) << id.toStdString();
        const auto uprightOffCentre = HangingStyle{true, true}.pose(id, size);
        EXPECT_EQ(uprightOffCentre.angle, 0);
        EXPECT_GE(std::abs(uprightOffCentre.offset), 0.1);
        EXPECT_LE(std::abs(uprightOffCentre.offset), 0.12475 + 1e-12);
        const auto natural = HangingStyle{false, false}.pose(id, size);
        EXPECT_GE(std::abs(natural.angle), 1.6);
        EXPECT_LE(std::abs(natural.angle), 2.788 + 1e-12);
        EXPECT_LE(std::abs(HangingStyle{true, false}.pose(id, QSizeF(4000, 100)).angle), 9);
    }
    const HangingStyle natural{false, false};
    EXPECT_EQ(natural.pose(QStringLiteral("abc"), size), natural.pose(QStringLiteral("abc"), kPortrait))
        << "the centred pose ignores the photo's shape";
    const auto unicode = HangingStyle::identityHash(QStringLiteral("照片"));
    EXPECT_NE(unicode, HangingStyle::identityHash(QStringLiteral("??"))) << "hashed as UTF-8 bytes";
}

} // namespace
} // namespace vennimo
