#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/FakeRopeWindowPort.h"
#include "canvas/OpaquePegPreview.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
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

// A rope window of its own with the canvas on it, over a plain backdrop, and a model that hangs
// what arrives on the Desktop; prints at rest without swinging, as pegs are carried.
struct PegRope {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    std::unique_ptr<GalleryModel> model;
    Backdrop backdrop{Backdrop::Tone::Plain};
    QWidget window{nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint};
    FakeRopeWindowPort port{&window};
    ClotheslineCanvas* host = nullptr;

    PegRope() {
        ReduceMotion::setReader([] { return std::optional<bool>(true); });
        UserDefaults::standard().setClotheslineStrictVertical(true);
        QDir().mkpath(desktop);
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"桌面", desktop}}, storageFolder()), true);
        model->start(60);
        backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        backdrop.show();
        window.setAttribute(Qt::WA_TranslucentBackground);
        window.setGeometry(kRopeWindow);
        host = new ClotheslineCanvas(*model, &window);
        host->scrollView()->setGeometry(0, kCanvasTop, kRopeWindow.width(),
                                        kRopeWindow.height() - kCanvasTop);
        host->setWindowPort(&port);
        window.show();
    }
    ~PegRope() {
        host->dismantle();
        ReduceMotion::setReader({});
    }
    // The first scan has set the baseline and the watcher runs.
    bool started() {
        return QTest::qWaitFor(
            [&] { return model->appliedScanCount() > 0 && model->watcher() && model->watcher()->running(); },
            30000);
    }
    ClotheslineCanvasView& canvas() { return *host->canvas(); }
};

class ClotheslineCanvasPegX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        rope = std::make_unique<PegRope>();
        ASSERT_TRUE(rope->started());
    }
    std::unique_ptr<PegRope> rope;
};

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
        30000));

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
        30000));
    EXPECT_TRUE(swung || canvas.physicsRunning());
    for (int shot = 0; shot < 12; ++shot) {
        grabRope().save(QString("%1/swing-%2.png").arg(screenshotDir()).arg(shot, 2, 10, QChar('0')));
        QTest::qWait(120);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 30000));
    QTest::qWait(300); // papers prepared in the background replace their placeholders
    grabRope().save(screenshotDir() + "/settled.png");

    QElapsedTimer arrival;
    savePhoto(desktop, "photo-6.jpg", {1400, 1050}, 7);
    arrival.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hangsOnRope(canvas, "photo-6.jpg"); }, 30000));
    const qint64 arrivedMs = arrival.elapsed();
    EXPECT_LT(arrivedMs, 1000) << "a photo saved to the Desktop hangs within a second";
    std::printf("new photo on the rope after %lld ms\n", static_cast<long long>(arrivedMs));
    for (int shot = 0; shot < 6; ++shot) {
        grabRope().save(QString("%1/arrival-%2.png").arg(screenshotDir()).arg(shot, 2, 10, QChar('0')));
        QTest::qWait(150);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 30000));
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

TEST_F(ClotheslineCanvasPegX11, WithoutPanelsAPegTravelsAsTheSystemDragsPictureAndIsTakenBackOnTheRope) {
    const QString& desktop = rope->desktop;
    ClotheslineCanvasView& canvas = rope->canvas();
    // As when no panel can be made.
    canvas.setPegPanels([] { return ClotheslineCanvasView::PegPanels::none; });
    QTest::qWait(300);
    savePhoto(desktop, "peg-a.jpg", {1600, 1200}, 11);
    savePhoto(desktop, "peg-b.jpg", {1200, 1600}, 12);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return hangsOnRope(canvas, "peg-a.jpg") && hangsOnRope(canvas, "peg-b.jpg"); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 30000));
    QTest::qWait(300);

    Photo carried;
    for (const Photo& photo : canvas.photos())
        if (photo.path.endsWith("/peg-a.jpg"))
            carried = photo;
    const double from = canvas.placement(carried)->x;
    const double to = from > 0.5 ? from - 0.25 : from + 0.25;
    const ClotheslineRopeGeometry rope = canvas.ropeGeometry();
    const QPointF anchor = canvas.printFrame(carried)->topLeft() + PolaroidRenderer::defaultPegAnchor;
    const QPointF grab(0, 8);
    ASSERT_TRUE(canvas.pegContains(carried, anchor + grab));
    const QPoint start = canvas.mapToGlobal(anchor + grab).toPoint();
    const QPoint end = canvas.mapToGlobal(rope.pointAlong(rope.supportFraction(to)) + grab).toPoint();
    QStringList gesture{
        "mousemove", QString::number(start.x()), QString::number(start.y()), "sleep", "0.3", "mousedown",
        "1"};
    for (int i = 1; i <= 12; ++i) {
        const QPoint p = start + (end - start) * i / 12 + QPoint(0, i < 12 ? 40 : 0);
        gesture << "sleep"
                << "0.08"
                << "mousemove" << QString::number(p.x()) << QString::number(p.y());
    }
    gesture << "sleep"
            << "0.6"
            << "mouseup"
            << "1";
    bool system = false;
    bool hidden = false;
    // Looked at while the print rests at the end of its way before the release: by where the
    // pointer is, not by a time, since on a busy machine xdotool may start late.
    bool looked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (looked || QCursor::pos() != end || !canvas.sessionInProgress())
            return;
        looked = true;
        system = canvas.sessionInProgress() && !canvas.localPegDragActive() && !canvas.opaquePreview();
        hidden = canvas.hiddenPhotoIDs().contains(carried.id);
        grabRope().save(screenshotDir() + "/peg-without-panels.png");
    });
    watch.start(5);
    ASSERT_TRUE(QProcess::startDetached("xdotool", gesture));
    // The drag runs inside the event loop the wait turns; it is over once the print hangs elsewhere.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !canvas.sessionInProgress() && std::abs(canvas.placement(carried)->x - from) > 0.1; },
        30000))
        << "the print was not carried";
    watch.stop();
    EXPECT_TRUE(looked) << "the pointer never rested at the end of the way during the drag";
    EXPECT_TRUE(system) << "without panels the system runs the drag from the start";
    EXPECT_TRUE(hidden) << "the rope no longer draws the carried print";
    EXPECT_NEAR(canvas.placement(carried)->x, to, 0.02) << "dropped on the rope, it hangs there";
    QTest::qWait(800);
    grabRope().save(screenshotDir() + "/peg-without-panels-dropped.png");
}

TEST_F(ClotheslineCanvasPegX11, APegPickedUpAgainWhileItsPanelFliesBackTakesThePanelOver) {
    const QString& desktop = rope->desktop;
    ClotheslineCanvasView& canvas = rope->canvas();
    QTest::qWait(300);
    savePhoto(desktop, "again-a.jpg", {1600, 1200}, 21);
    ASSERT_TRUE(QTest::qWaitFor([&] { return hangsOnRope(canvas, "again-a.jpg"); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas.physicsRunning(); }, 30000));
    QTest::qWait(300);

    const Photo carried = canvas.photos().value(0);
    const double from = canvas.placement(carried)->x;
    const ClotheslineRopeGeometry rope = canvas.ropeGeometry();
    const QPointF grab(0, 8);
    const auto onRope = [&](double x) {
        return canvas.mapToGlobal(rope.pointAlong(rope.supportFraction(x)) + grab).toPoint();
    };
    const QPoint start = onRope(from);
    const double way = from < 0.5 ? 1 : -1;
    const QPoint slid = onRope(from + 0.2 * way);
    const QPoint further = onRope(from + 0.35 * way);
    // Let go on the rope, and taken again while its panel flies back.
    QStringList gesture = letGoAndTakeAgain(start, slid, further, "0.05");
    gesture << "sleep"
            << "0.3"
            << "mouseup"
            << "1";
    bool held = false;
    int reused = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (OpaquePegPreview* preview = canvas.opaquePreview()) {
            held = held || (preview->predecessor() && preview->predecessor()->heldForPickup());
            reused = std::max(reused, preview->reusedCount());
            if (held && preview->phase() == OpaquePegPreview::Phase::dragging)
                grabRope().save(screenshotDir() + "/peg-picked-up-again.png");
        }
    });
    watch.start(5);
    ASSERT_TRUE(QProcess::startDetached("xdotool", gesture));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !canvas.sessionInProgress() &&
                   std::abs(canvas.placement(carried)->x - (from + 0.35 * way)) < 0.02;
        },
        30000))
        << "the print is at " << canvas.placement(carried)->x;
    watch.stop();
    EXPECT_TRUE(held) << "the flying panel waited for the new drag";
    EXPECT_EQ(reused, 1) << "and the new drag took it over";
    QTest::qWait(800);
    grabRope().save(screenshotDir() + "/peg-picked-up-again-landed.png");
}
