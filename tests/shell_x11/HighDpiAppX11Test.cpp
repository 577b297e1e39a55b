#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/DropWindow.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace vennimo;
using namespace vennimo::test;

// A laptop's 4K screen: the desktop's Xft.dpi makes Qt draw the application at 1.5 or 2 device
// pixels a point (x11-session sets it from the test's name, and a 3840 x 2160 screen). This test
// program itself measures in the X server's pixels. Everything a user does first, hang, select,
// carry out and preview, must work there as at 1, with and without a compositing manager, and
// the rope's cut must show nothing black of its own.

namespace {

constexpr auto kPanelTitle = "照片大图";

double desktopScale() {
    return qEnvironmentVariableIntValue("VENNIMO_X11_DPI") / 96.0;
}

bool moveTo(const QPoint& p, int settleMs = 200) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, settleMs);
}

std::optional<QRect> panelFrame() {
    const QString ids = runProgram("xdotool", {"search", "--onlyvisible", "--name", kPanelTitle}).trimmed();
    if (ids.isEmpty())
        return std::nullopt;
    return clientAreaOf(ids.split('\n').first());
}

void hangSelectCarryAndPreview(const QString& name) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const double scale = desktopScale();
    ASSERT_GT(scale, 1.2) << "the desktop was given no Xft.dpi";
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().width(), 3840)
        << "this test measures in the X server's pixels";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = screenshotFolder("high-dpi");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());
    const QImage bare = grabScreenArea(screen);

    // It starts, and the prints arriving hang.
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_EQ(app.state(), QProcess::Running) << "the application ended at its start";
    ASSERT_TRUE(hangDesktopPhotos(desktop, "print", 3, 30));
    ASSERT_EQ(app.state(), QProcess::Running) << "the application ended as prints came";
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 3);
    std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    EXPECT_NEAR(window->height(), kCollapsedHeight * scale, 2) << "the rope draws at the desktop's scale";

    // Nothing black of the rope's own, whether a compositing manager blends it or the X server
    // shows the window cut to what it draws.
    const QRect around = window->adjusted(-20, -20, 20, 20) & screen;
    const QImage hung = grabScreenArea(around);
    hung.save(QString("%1/%2-hung.png").arg(shots, name));
    const int black =
        nearBlackPixels(hung) - nearBlackPixels(bare.copy(around.translated(-screen.topLeft())));
    std::printf("%s: %d black pixels about the rope of %dx%d\n", qPrintable(name), black, window->width(),
                window->height());
    EXPECT_LT(black, window->width() * window->height() / 50) << "black about the rope";

    // A click on a print selects it: the toolbar of a selection makes room above the rope.
    ASSERT_TRUE(moveTo(scaledPrintPoint(*window, xs[1], scale)) && xdotool({"click", "1"}, 400));
    const int expanded = int(std::lround((kCollapsedHeight + kToolbarRoom) * scale));
    std::optional<QRect> selected;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            selected = applicationWindow(app.processId());
            return selected && std::abs(selected->height() - expanded) <= 2;
        },
        30000))
        << "the print was not selected";
    ASSERT_TRUE(selected);
    QTest::qWait(600);
    grabScreenArea(selected->adjusted(-20, -20, 20, 20) & screen)
        .save(QString("%1/%2-selected.png").arg(shots, name));

    // Space opens the preview panel on it; Escape closes it and the selection stays.
    ASSERT_TRUE(xdotool({"key", "space"}, 300));
    std::optional<QRect> panel;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (panel = panelFrame()).has_value(); }, 30000)) << "no preview";
    QTest::qWait(1500); // the full decode, for the picture
    panel = panelFrame();
    ASSERT_TRUE(panel);
    const QImage look = grabScreenArea(*panel & screen);
    look.save(QString("%1/%2-preview.png").arg(shots, name));
    EXPECT_GT(panel->width(), 400 * scale) << "the panel is drawn at the desktop's scale";
    // The panel's clear margin around its paper shows what lies behind, not black.
    const int margin = int(16 * scale);
    const QRect paper = QRect(QPoint(), panel->size()).adjusted(margin, margin, -margin, -margin);
    int frameBlack = 0;
    for (const QRect& band : QRegion(QRect(QPoint(), panel->size())).subtracted(paper))
        frameBlack += nearBlackPixels(look.copy(band));
    std::printf("%s: %d black pixels in the preview's margin\n", qPrintable(name), frameBlack);
    EXPECT_LT(frameBlack, 64 * scale * scale) << "a black frame about the preview";
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([] { return !panelFrame(); }, 30000)) << "the panel stayed";

    // The selected print carried out into another program's window delivers its file.
    selected = applicationWindow(app.processId());
    ASSERT_TRUE(selected);
    DropWindow target;
    target.setGeometry(screen.x() + 200, selected->bottom() + 80, 640, 360);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
    QTest::qWait(300);
    const QPoint from = scaledPrintPoint(*selected, xs[1], scale);
    const QPoint to = target.geometry().center();
    ASSERT_TRUE(moveTo(from, 300) && xdotool({"mousedown", "1"}, 200));
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
        ASSERT_TRUE(moveTo(from + (to - from) * i / kSteps, 80));
        if (i == kSteps / 2)
            grabScreenArea(selected->united(target.geometry()).adjusted(-20, -20, 20, 20) & screen)
                .save(QString("%1/%2-carried.png").arg(shots, name));
    }
    QTest::qWait(400);
    ASSERT_TRUE(xdotool({"mouseup", "1"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !target.urls.isEmpty(); }, 30000)) << "nothing arrived";
    ASSERT_EQ(target.urls.size(), 1);
    EXPECT_TRUE(target.urls[0].toLocalFile().startsWith(desktop + "/print-"))
        << target.urls[0].toString().toStdString();
    EXPECT_TRUE(QFile::exists(target.urls[0].toLocalFile()));
    QTest::qWait(600);
    grabScreenArea(selected->united(target.geometry()).adjusted(-20, -20, 20, 20) & screen)
        .save(QString("%1/%2-delivered.png").arg(shots, name));

    EXPECT_EQ(app.state(), QProcess::Running);
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
}

} // namespace

TEST(ApplicationAtDpi144X11, PrintsHangSelectPreviewAndCarryOut) {
    hangSelectCarryAndPreview("dpi144");
}

TEST(ApplicationAtDpi192X11, PrintsHangSelectPreviewAndCarryOut) {
    hangSelectCarryAndPreview("dpi192");
}

TEST(ApplicationAtDpi144WithoutCompositorX11, PrintsHangSelectPreviewAndCarryOut) {
    hangSelectCarryAndPreview("dpi144-no-compositor");
}

TEST(ApplicationAtDpi192WithoutCompositorX11, PrintsHangSelectPreviewAndCarryOut) {
    hangSelectCarryAndPreview("dpi192-no-compositor");
}
