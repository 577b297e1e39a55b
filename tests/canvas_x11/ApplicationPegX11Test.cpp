#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vennimo;
using namespace vennimo::test;

TEST(ApplicationPegX11, APegSlidesItsPrintAlongTheRopeAndPulledOffTakesItDownUntilControlZ) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();

    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "peg", 2, 70));
    const QMap<QString, double> before = placements();
    QStringList keys = before.keys();
    std::sort(keys.begin(), keys.end(),
              [&](const QString& a, const QString& b) { return before[a] < before[b]; });
    const QString left = keys[0];
    const QString right = keys[1];
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QRect around = window->adjusted(-20, -20, 20, 20);
    const double span = std::max(window->width() - 2 * kSideInset - 2 * kRopeInset - 290.0, 1.0);
    ASSERT_GT(before[right] - before[left], 0.2) << "the two prints hang apart";

    // The left print, lifted by its peg, slides 100 points to the right along the rope.
    const QPoint from = pegPoint(*window, before[left], before.values());
    const double target = before[left] + 100 / span;
    const QPoint to = pegPoint(*window, target, {before[right]});
    pegGesture(from, to, [&] { grabScreenArea(around).save(shots + "/40-peg-slide.png"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(placements()[left] - before[left]) > 0.01; }, 30000))
        << "the print did not move";
    EXPECT_NEAR(placements()[left], target, 4 / span);
    EXPECT_DOUBLE_EQ(placements()[right], before[right]) << "the other print keeps its place";
    EXPECT_EQ(takenDownCount(), 0);
    QTest::qWait(1200);
    grabScreenArea(around).save(shots + "/41-peg-slid.png");

    // Pulled far below the rope, the right print comes down.
    const QPoint pegRight = pegPoint(*window, before[right], placements().values());
    pegGesture(pegRight, pegRight + QPoint(0, 260),
               [&] { grabScreenArea(around.adjusted(0, 0, 0, 260)).save(shots + "/42-peg-pulled-off.png"); });
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 1; }, 30000))
        << "the print was not taken down";
    QTest::qWait(1200);
    grabScreenArea(around).save(shots + "/43-peg-taken-down.png");

    // Control-Z in the rope window hangs it again at its place.
    ASSERT_TRUE(undoInRopeWindow(app.processId()));
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 0; }, 30000))
        << "Control-Z did not hang it again";
    EXPECT_DOUBLE_EQ(placements()[right], before[right]);
    QTest::qWait(1500);
    grabScreenArea(around).save(shots + "/44-peg-hung-again.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}
