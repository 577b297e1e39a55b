#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/FakeRopeWindowPort.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr QRect kRopeWindow{470, 120, 980, 466};

QString screenshotDir() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QImage grabRope() {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, kRopeWindow.x() - 20, kRopeWindow.y() - 20, kRopeWindow.width() + 40,
                     kRopeWindow.height() + 40)
        .toImage();
}

void savePhoto(const QString& folder, const QString& name, QSize size, int seed) {
    const QImage image = makePhotoLikeImage(size, seed);
    ASSERT_TRUE(image.save(folder + "/" + name, "JPEG", 88));
    QDir().mkpath(screenshotDir() + "/photos");
    image.save(screenshotDir() + "/photos/" + name, "JPEG", 88);
}

bool hangsOnRope(ClotheslineCanvasView& canvas, const QString& fileName) {
    for (const Photo& photo : canvas.photos())
        if (photo.path.endsWith("/" + fileName))
            return canvas.printFrame(photo).has_value();
    return false;
}

} // namespace

TEST(ClotheslineCanvasX11, PhotosSwingInOnTheRopeAndANewOneArrivesWithinASecond) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    UserDefaults::standard().setClotheslineStrictVertical(false);

    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    QDir().mkpath(desktop);
    QDir().mkpath(downloads);
    GalleryModel model(
        std::make_unique<Indexer>(QList<SourceRoot>{{"桌面", desktop}, {"下载", downloads}}, storageFolder()),
        true);
    model.start(60);
    // What the first scan finds is the baseline; pictures saved after it arrive on the rope.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.appliedScanCount() > 0 && model.watcher() && model.watcher()->running(); },
        10000));

    Backdrop backdrop;
    backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop.show();
    QWidget window(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setGeometry(kRopeWindow);
    FakeRopeWindowPort port(&window);
    const auto dismantle = qScopeGuard([&] { window.findChild<ClotheslineCanvas*>()->dismantle(); });
    auto* host = new ClotheslineCanvas(model, &window);
    host->scrollView()->setGeometry(0, kCanvasTop, kRopeWindow.width(), kRopeWindow.height() - kCanvasTop);
    host->setWindowPort(&port);
    window.show();
    ClotheslineCanvasView& canvas = *host->canvas();
    QTest::qWait(300);
    const QList<QSize> sizes{{1600, 1200}, {1200, 1600}, {1600, 900}, {1200, 1200}, {1500, 1000}};
    for (int i = 0; i < sizes.size(); ++i)
        savePhoto(i % 2 ? downloads : desktop, QString("photo-%1.jpg").arg(i + 1), sizes[i], i);

    // On a loaded machine the last print may come up after the first ones have already settled,
    // so the swing is looked for while they arrive rather than at the end.
    bool swung = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            swung = swung || canvas.physicsRunning();
            for (int i = 1; i <= 5; ++i)
                if (!hangsOnRope(canvas, QString("photo-%1.jpg").arg(i)))
                    return false;
            return true;
        },
        10000));
    EXPECT_TRUE(swung || canvas.physicsRunning());
    for (int shot = 0; shot < 12; ++shot) {
        grabRope().save(QString("%1/swing-%2.png").arg(screenshotDir()).arg(shot, 2, 10, QChar('0')));
        QTest::qWait(120);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 10000));
    QTest::qWait(300); // papers prepared in the background replace their placeholders
    grabRope().save(screenshotDir() + "/settled.png");

    QElapsedTimer arrival;
    savePhoto(desktop, "photo-6.jpg", {1400, 1050}, 7);
    arrival.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hangsOnRope(canvas, "photo-6.jpg"); }, 10000));
    const qint64 arrivedMs = arrival.elapsed();
    EXPECT_LT(arrivedMs, 1000) << "a photo saved to the Desktop hangs within a second";
    std::printf("new photo on the rope after %lld ms\n", static_cast<long long>(arrivedMs));
    for (int shot = 0; shot < 6; ++shot) {
        grabRope().save(QString("%1/arrival-%2.png").arg(screenshotDir()).arg(shot, 2, 10, QChar('0')));
        QTest::qWait(150);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 10000));
    QTest::qWait(300);
    const QImage settled = grabRope();
    settled.save(screenshotDir() + "/arrival-settled.png");

    // Each print's paper shows on screen where the canvas says it hangs: where it lies on top,
    // its lower margin is polaroid white (a neighbour's shadow may dim it), lighter than the backdrop.
    int checked = 0;
    for (const Photo& photo : canvas.photos()) {
        const QRectF frame = *canvas.printFrame(photo);
        const PolaroidGeometry g = canvas.geometry(photo);
        const QPointF margin =
            g.paperTransform.map(QPointF(g.paperRect.center().x(), g.paperRect.bottom() - 8));
        const QPointF onCanvas = frame.topLeft() + margin;
        const auto top = canvas.photo(onCanvas);
        if (!top || top->id != photo.id)
            continue;
        const QPoint at = (onCanvas + QPointF(20, 20 + kCanvasTop)).toPoint();
        EXPECT_GT(qGray(settled.pixel(at)), 180) << photo.path.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 3);
    ReduceMotion::setReader({});
}
