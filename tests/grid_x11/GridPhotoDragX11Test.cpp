#include "canvas/OpaquePegPreview.h"
#include "grid/GridPhotoDrag.h"
#include "platform/ReduceMotion.h"
#include "platform/X11WindowStack.h"
#include "support/ScreenGrab.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

// Where nothing composites windows (x11-session leaves the compositing manager out for this
// suite's name), a card's picture sliding back shows only the picture: its clear corners show
// what lies behind, not black.
TEST(GridPhotoDragWithoutCompositorX11, APictureSlidingBackIsCutToItsOutline) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    QWidget grid;
    grid.setStyleSheet("background: rgb(236, 232, 220)");
    grid.setAutoFillBackground(true);
    grid.setGeometry(120, 120, 480, 360);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid, 30000));
    QTest::qWait(300);
    // A card's picture with round corners, clear around them.
    QImage picture(160, 120, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath card;
        card.addRoundedRect(QRectF(0, 0, 160, 120), 28, 28);
        painter.fillPath(card, QColor(70, 120, 160));
    }
    // It lands where it starts, so it stands still while the test looks.
    const QPointF restOrigin(100, 80);
    const QPointF origin = grid.mapToGlobal(restOrigin);
    GridPhotoDrag::returnPicture(picture, origin, &grid, restOrigin);
    OpaquePegPreview* slide = grid.findChild<OpaquePegPreview*>();
    ASSERT_TRUE(slide);
    EXPECT_TRUE(slide->masked()) << "a translucent picture where nothing composites it";
    ASSERT_EQ(slide->panelWindows().size(), 1);
    QWidget* panel = slide->panelWindows().first();
    QElapsedTimer waited;
    waited.start();
    while (!(panel->windowHandle() && panel->windowHandle()->isExposed()) && waited.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!panel->windowHandle() || !panel->windowHandle()->isExposed())
        GTEST_SKIP() << "the picture did not show in time to be looked at";
    grid.repaint();
    const QRect area(origin.toPoint(), picture.size());
    const QImage shot = grabScreenArea(area);
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    shot.save(dir + "/20-no-compositor-card-slides-back.png");
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            dark += qRed(p) < 24 && qGreen(p) < 24 && qBlue(p) < 24;
        }
    EXPECT_LT(dark, 20) << "black around the picture";
    ReduceMotion::setReader({});
}
