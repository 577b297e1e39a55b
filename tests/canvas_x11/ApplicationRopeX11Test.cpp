#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "PhotoLikeImages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo::test;

TEST(ApplicationRopeX11, PhotosSavedToTheDesktopSwingOntoTheRope) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    writeFile(defaultsFile(), R"({"ClotheslineStrictVertical": false})");

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const QImage empty = grabScreenArea(ropeArea());
    empty.save(applicationShots() + "/00-empty.png");

    const QList<QSize> sizes{{1600, 1200}, {1200, 1600}, {1600, 900}, {1200, 1200}, {1500, 1000}};
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(makePhotoLikeImage(sizes[i], i)
                        .save(QString("%1/photo-%2.jpg").arg(desktop).arg(i + 1), "JPEG", 88));
    for (int shot = 1; shot <= 12; ++shot) {
        QTest::qWait(150);
        grabScreenArea(ropeArea())
            .save(QString("%1/%2-swing.png").arg(applicationShots()).arg(shot, 2, 10, QChar('0')));
    }
    // On a busy machine the five can come later than the swing's pictures: they are waited for.
    (void)QTest::qWaitFor([] { return placements().size() == 5; }, 60000);
    QTest::qWait(3000);
    const QImage settled = grabScreenArea(ropeArea());
    settled.save(applicationShots() + "/13-settled.png");
    EXPECT_GT(changedShare(empty, settled), 0.2) << "five prints hang on the rope";

    QElapsedTimer arrival;
    ASSERT_TRUE(makePhotoLikeImage({1400, 1050}, 7).save(desktop + "/new-photo.jpg", "JPEG", 88));
    arrival.start();
    bool appeared = false;
    while (!appeared && arrival.elapsed() < 3000) {
        QTest::qWait(50);
        appeared = changedShare(settled, grabScreenArea(ropeArea())) > 0.02;
    }
    const qint64 arrivedMs = arrival.elapsed();
    EXPECT_TRUE(appeared);
    EXPECT_LT(arrivedMs, 1000) << "a photo saved to the Desktop shows within a second";
    std::printf("new photo visible on the rope after %lld ms\n", static_cast<long long>(arrivedMs));
    grabScreenArea(ropeArea()).save(applicationShots() + "/14-arrival.png");
    QTest::qWait(3000);
    grabScreenArea(ropeArea()).save(applicationShots() + "/15-arrival-settled.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
}
