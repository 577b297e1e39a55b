#include "ApplicationRope.h"
#include "WindowTrail.h"
#include "platform/X11WindowStack.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The photos' one colour and the backdrop's, far apart.
const QColor kPhoto(40, 110, 60);
const QColor kBackdrop(0x6a, 0x86, 0xa4);

int apart(QRgb p, const QColor& c) {
    return std::max(
        {std::abs(qRed(p) - c.red()), std::abs(qGreen(p) - c.green()), std::abs(qBlue(p) - c.blue())});
}

// Pixels of a look at a drag picture that show neither the photo nor the desktop behind: Qt's white
// under the picture, or the print's paper mixed into its edge.
int foreign(const QImage& look, const QColor& photo) {
    constexpr int kNear = 30;
    int count = 0;
    for (int y = 0; y < look.height(); ++y)
        for (int x = 0; x < look.width(); ++x) {
            const QRgb p = look.pixel(x, y);
            count += apart(p, photo) > kNear && apart(p, kBackdrop) > kNear;
        }
    return count;
}

} // namespace

// The application with three photos of one colour on the rope, over another program's window of
// another, on a desktop without a compositing manager (x11-session leaves it out for this suite's
// name), where a window's clear pixels show whatever the window is filled with: a pixel of a copy
// drag's picture of neither colour is none of the photos'.
class ApplicationDragPictureWithoutCompositorX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
        const QString desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        shots = applicationShots();
        ASSERT_TRUE(backdrop.cover());
        ASSERT_TRUE(startApplication(app));
        for (int i = 0; i < 3; ++i) {
            QImage photo(1600, 1200, QImage::Format_RGB32);
            photo.fill(kPhoto);
            const QString path = QString("%1/plain-%2.jpg").arg(desktop).arg(i + 1);
            QImageWriter writer(path, "JPEG");
            writer.setQuality(95);
            ASSERT_TRUE(writer.write(photo)) << writer.errorString().toStdString();
            shown = QImage(path).pixelColor(800, 600);
        }
        ASSERT_TRUE(QTest::qWaitFor([] { return placements().size() == 3; }, 60000)) << "the photos hang";
        QTest::qWait(2500); // the rope settles under its prints
        xs = placementXs();
        window = applicationWindow(app.processId());
        ASSERT_TRUE(window);
    }
    void TearDown() override {
        app.terminate();
        app.waitForFinished(5000);
    }

    // Carries the print at x by its paper down onto the backdrop and looks, while it is carried,
    // at the window that followed the pointer all the way: Qt's drag picture. Answers its look,
    // saved under `name`, and how large it is; a null look when no picture followed.
    QImage carried(const QRect& from, double x, const QString& name) {
        WindowTrail trail(app.processId());
        EXPECT_TRUE(trail.connected());
        const QPoint pressed = printPoint(from, x);
        const QPoint to(pressed.x() + 120, from.bottom() + 240);
        QImage look;
        pegGesture(pressed, to, [&] {
            if (const std::optional<WindowTrail::Window> drag = trail.follower(to))
                look = grabScreenArea(drag->places.last());
        });
        // After the release the picture slides back onto the rope and goes.
        QTest::qWait(1500);
        if (!look.isNull())
            look.save(shots + "/" + name);
        return look;
    }

    QString shots;
    // The photos' colour as read back from their files.
    QColor shown;
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;
    QList<double> xs;
    std::optional<QRect> window;
};

// A print's picture is its photo's window of the paper, whole pixels of the photo only: no line of
// the paper along any edge.
TEST_F(ApplicationDragPictureWithoutCompositorX11, OnePrintCarriedShowsItsPhotoWithNoneOfItsPaper) {
    const QImage look = carried(*window, xs[1], "44-no-compositor-copy-one-print.png");
    ASSERT_FALSE(look.isNull()) << "no drag picture followed the pointer";
    const int paper = foreign(look, shown);
    std::printf("foreign pixels in the %dx%d picture of one print: %d\n", look.width(), look.height(), paper);
    // The photo's window has rounded corners, a pixel or two of paper each.
    EXPECT_LT(paper, 24) << "the picture carries the print's paper: " << paper << " pixels in "
                         << look.width() << "x" << look.height();
}

// Several prints carried at once show as they hang, with the desktop between them: Qt fills its
// picture's window white, which must not show in the gaps.
TEST_F(ApplicationDragPictureWithoutCompositorX11, APileOfPrintsCarriedShowsNothingWhiteBetweenThem) {
    // All three selected: a click on one, then Control-A.
    ASSERT_TRUE(xdotool({"mousemove", QString::number(printPoint(*window, xs[0]).x()),
                         QString::number(printPoint(*window, xs[0]).y())},
                        200));
    ASSERT_TRUE(xdotool({"click", "1"}, 400));
    std::optional<QRect> expanded;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            expanded = applicationWindow(app.processId());
            return expanded && expanded->height() == window->height() + kToolbarRoom;
        },
        30000))
        << "the toolbar of a selection";
    ASSERT_TRUE(xdotool({"key", "ctrl+a"}, 800));

    const QImage look = carried(*expanded, xs[1], "45-no-compositor-copy-three-prints.png");
    ASSERT_FALSE(look.isNull()) << "no drag picture followed the pointer";
    EXPECT_GT(look.width(), 2 * look.height()) << "the picture shows the three prints side by side";
    const int white = foreign(look, shown);
    std::printf("foreign pixels in the %dx%d picture of three prints: %d\n", look.width(), look.height(),
                white);
    EXPECT_LT(white, 72) << "the prints travel on a white box: " << white << " pixels in " << look.width()
                         << "x" << look.height();
}
