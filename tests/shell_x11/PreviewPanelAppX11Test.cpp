#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/PhotoLikeImages.h"
#include "canvas_x11/WindowPing.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRegion>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr auto kPanelTitle = "照片大图";

// The pictures' file names left to right along the rope, once all `count` have a place. A photo's
// id ends in its file's inode number.
QStringList ropeOrder(const QString& folder, int count) {
    QHash<QString, QString> names;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files)) {
        struct stat status {};
        if (::stat(QFile::encodeName(file.filePath()).constData(), &status) == 0)
            names.insert(QString("-%1").arg(status.st_ino), file.fileName());
    }
    QList<std::pair<double, QString>> placed;
    const QMap<QString, double> xs = placements();
    for (auto it = xs.begin(); it != xs.end(); ++it) {
        const QString inode = "-" + it.key().section('-', -1);
        if (names.contains(inode))
            placed.append({it.value(), names.value(inode)});
    }
    if (placed.size() != count)
        return {};
    std::sort(placed.begin(), placed.end());
    QStringList order;
    for (const auto& [x, name] : placed)
        order.append(name);
    return order;
}

bool moveTo(const QPoint& p, int settleMs = 200) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, settleMs);
}

std::optional<QRect> panelFrame() {
    const QString ids = runProgram("xdotool", {"search", "--onlyvisible", "--name", kPanelTitle}).trimmed();
    if (ids.isEmpty())
        return std::nullopt;
    const QString geometry = runProgram("xdotool", {"getwindowgeometry", "--shell", ids.split('\n').first()});
    QHash<QString, int> values;
    for (const QString& line : geometry.split('\n')) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair[0], pair[1].toInt());
    }
    return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
}

QColor meanColor(const QImage& image) {
    double r = 0, g = 0, b = 0;
    qint64 n = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 3)
        for (int x = 0; x < rgb.width(); x += 3) {
            const QRgb p = rgb.pixel(x, y);
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
            ++n;
        }
    return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
}

// Which picture the panel shows: the one whose mean colour is nearest the photo's area's.
QString shownPicture(const QRect& panel, int scale, const QHash<QString, QColor>& pictures) {
    const int inset = (16 + 24 + 12) * scale;
    const QImage area = grabScreenArea(panel.adjusted(inset, inset, -inset, -(16 + 96 + 12) * scale));
    const QColor mean = meanColor(area);
    QString best;
    int bestDistance = INT_MAX;
    for (auto it = pictures.begin(); it != pictures.end(); ++it) {
        const QColor c = it.value();
        const int d = std::abs(c.red() - mean.red()) + std::abs(c.green() - mean.green()) +
                      std::abs(c.blue() - mean.blue());
        if (d < bestDistance) {
            bestDistance = d;
            best = it.key();
        }
    }
    return best;
}

// How much finer detail an area holds than its copy at half the pixels: a photo drawn from a
// decode of the screen's own pixels keeps its grain, one stretched from half of them does not.
double detailRatio(const QImage& image) {
    const auto energy = [](const QImage& source) {
        const QImage gray = source.convertToFormat(QImage::Format_Grayscale8);
        double sum = 0;
        for (int y = 0; y < gray.height(); ++y) {
            const uchar* line = gray.constScanLine(y);
            for (int x = 1; x < gray.width(); ++x)
                sum += std::abs(int(line[x]) - int(line[x - 1]));
        }
        return sum / std::max<qint64>(1, qint64(gray.width()) * gray.height());
    };
    const QImage halved = image.scaled(image.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return energy(image) / std::max(1e-6, energy(halved));
}

struct RunningApplication {
    QProcess app;
    QHash<QString, QColor> pictures;
    QStringList order;
    QList<double> xs;
    std::optional<QRect> collapsed;

    // Starts the application at the scale and waits for three pictures to hang still.
    void start(int scale) {
        const QString desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_SCALE_FACTOR", QString::number(scale));
        app.setProcessEnvironment(environment);
        ASSERT_TRUE(startApplication(app));
        // A dusk, a day and a green-tinted dusk, so the panel's picture can be told by its colour.
        for (int i = 0; i < 3; ++i) {
            QImage image = makePhotoLikeImage({1600, 1200}, i + 3);
            if (i == 2)
                QPainter(&image).fillRect(image.rect(), QColor(20, 170, 60, 110));
            const QString name = QString("preview-%1.jpg").arg(i + 1);
            ASSERT_TRUE(image.save(desktop + "/" + name, "JPEG", 90));
            pictures.insert(name, meanColor(image));
        }
        for (const QColor& a : pictures) {
            for (const QColor& b : pictures) {
                if (a != b) {
                    ASSERT_GT(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                                  std::abs(a.blue() - b.blue()),
                              40);
                }
            }
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !(order = ropeOrder(desktop, 3)).isEmpty(); }, 60000));
        xs = placementXs();
        QTest::qWait(2500); // the rope settles under its prints
        collapsed = applicationWindow(app.processId());
        ASSERT_TRUE(collapsed);
    }
    ~RunningApplication() {
        app.terminate();
        app.waitForFinished(10000);
    }
    std::optional<QRect> waitForHeight(int height) {
        std::optional<QRect> frame;
        (void)QTest::qWaitFor(
            [&] {
                frame = applicationWindow(app.processId());
                return frame && frame->height() == height;
            },
            30000);
        return frame;
    }
};

} // namespace

TEST(PreviewPanelAppX11, ADoubleClickOpensThePanelTheArrowsPageInRopeOrderAndEscapeKeepsTheSelection) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString shots = applicationShots();
    Backdrop backdrop(Backdrop::Tone::Dark);
    ASSERT_TRUE(backdrop.cover());
    RunningApplication r;
    r.start(1);
    if (HasFatalFailure())
        return;

    // All three selected: a click on one, then Control-A.
    ASSERT_TRUE(moveTo(printPoint(*r.collapsed, r.xs[0])) && xdotool({"click", "1"}, 400));
    const int expandedHeight = r.collapsed->height() + kToolbarRoom;
    std::optional<QRect> frame = r.waitForHeight(expandedHeight);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(xdotool({"key", "ctrl+a"}, 800));

    // A double click on the middle print opens the panel on it, page 2 of 3.
    ASSERT_TRUE(moveTo(printPoint(*frame, r.xs[1])));
    ASSERT_TRUE(xdotool({"click", "--repeat", "2", "--delay", "80", "1"}, 300));
    std::optional<QRect> panel;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (panel = panelFrame()).has_value(); }, 30000)) << "the panel";
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownPicture(*panel, 1, r.pictures) == r.order[1]; }, 30000));
    QTest::qWait(1200); // the full decode, for the picture
    grabScreenArea(panel->adjusted(-20, -20, 20, 20)).save(shots + "/50-preview.png");
    EXPECT_EQ(shownPicture(*panel, 1, r.pictures), r.order[1]);

    ASSERT_TRUE(xdotool({"key", "Right"}, 1000));
    // The page turns once the machine gets to it.
    (void)QTest::qWaitFor([&] { return shownPicture(*panel = *panelFrame(), 1, r.pictures) == r.order[2]; },
                          30000);
    EXPECT_EQ(shownPicture(*panel = *panelFrame(), 1, r.pictures), r.order[2]) << "the next along the rope";
    ASSERT_TRUE(xdotool({"key", "Right"}, 600));
    EXPECT_EQ(shownPicture(*panel = *panelFrame(), 1, r.pictures), r.order[2]) << "no wrap-around";
    ASSERT_TRUE(xdotool({"key", "Left"}, 600) && xdotool({"key", "Left"}, 1000));
    (void)QTest::qWaitFor([&] { return shownPicture(*panel = *panelFrame(), 1, r.pictures) == r.order[0]; },
                          30000);
    EXPECT_EQ(shownPicture(*panel = *panelFrame(), 1, r.pictures), r.order[0]);
    grabScreenArea(panel->adjusted(-20, -20, 20, 20)).save(shots + "/51-preview-first.png");

    // Escape closes it; the rope keeps its selection of three, as a copy of it shows.
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([] { return !panelFrame(); }, 30000)) << "the panel closed";
    frame = applicationWindow(r.app.processId());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->height(), expandedHeight) << "the toolbar of a selection stays";
    grabScreenArea(frame->adjusted(-20, -20, 20, 20)).save(shots + "/52-after-preview.png");
    ASSERT_TRUE(xdotool({"key", "ctrl+c"}, 800));
    const QStringList copied = runProgram("xclip", {"-o", "-selection", "clipboard", "-t", "text/uri-list"})
                                   .split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(copied.size(), 3) << copied.join(' ').toStdString();
}

TEST(PreviewPanelAppX11, AtScaleTwoThePhotoIsDrawnFromTheScreensOwnPixels) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString shots = applicationShots();
    Backdrop backdrop(Backdrop::Tone::Dark);
    ASSERT_TRUE(backdrop.cover());
    RunningApplication r;
    r.start(2);
    if (HasFatalFailure())
        return;

    ASSERT_TRUE(moveTo(scaledPrintPoint(*r.collapsed, r.xs[1], 2)));
    ASSERT_TRUE(xdotool({"click", "--repeat", "2", "--delay", "80", "1"}, 300));
    std::optional<QRect> panel;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (panel = panelFrame()).has_value(); }, 30000)) << "the panel";
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownPicture(*panel, 2, r.pictures) == r.order[1]; }, 30000));
    QTest::qWait(1500); // the full decode, for the picture
    const int inset = (16 + 24 + 12) * 2;
    const QRect photoArea = panel->adjusted(inset, inset, -inset, -(16 + 96 + 12) * 2);
    // On a busy machine the full decode can come later still.
    (void)QTest::qWaitFor([&] { return detailRatio(grabScreenArea(photoArea)) > 1.8; }, 30000);
    grabScreenArea(panel->adjusted(-20, -20, 20, 20)).save(shots + "/53-preview-2x.png");
    EXPECT_EQ(shownPicture(*panel, 2, r.pictures), r.order[1]);
    const QImage photo = grabScreenArea(photoArea);
    const double ratio = detailRatio(photo);
    std::printf("detail ratio of the 2x photo: %.2f\n", ratio);
    EXPECT_GT(ratio, 1.8) << "the photo is sharp at the screen's scale";
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([] { return !panelFrame(); }, 30000));
}

namespace {

// The near-black pixels of a panel's margin around its paper, more than the same place showed
// before the panel came (`before`, a grab of the screen from its origin); the look saved under
// `name`.
int blackAroundThePaper(const QRect& panel, const QImage& before, const QString& name) {
    const QImage look = grabScreenArea(panel);
    look.save(name);
    constexpr int kMargin = 16;
    int more = 0;
    const QRect paper = QRect(QPoint(0, 0), panel.size()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    for (const QRect& band : QRegion(QRect(QPoint(0, 0), panel.size())).subtracted(paper))
        more +=
            nearBlackPixels(look.copy(band)) - nearBlackPixels(before.copy(band.translated(panel.topLeft())));
    return more;
}

} // namespace

// On a desktop without a compositing manager (x11-session leaves it out for this suite's name) the
// panel's clear margin, where a compositor shows a soft shadow, must show what lies behind it, not
// black: each time the panel opens, by a double click or Space, and when it pages on.
TEST(PreviewPanelAppWithoutCompositorX11, ThePanelShowsNoBlackFrameAroundItsPaper) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString shots = applicationShots();
    Backdrop backdrop(Backdrop::Tone::Light);
    ASSERT_TRUE(backdrop.cover());
    RunningApplication r;
    r.start(1);
    if (HasFatalFailure())
        return;
    const QImage before = grabScreenArea(QGuiApplication::primaryScreen()->geometry());
    const auto expectNoFrame = [&](const QString& name) {
        std::optional<QRect> panel;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (panel = panelFrame()).has_value(); }, 30000))
            << "the panel";
        QTest::qWait(1200); // the full decode, for the picture
        panel = panelFrame();
        ASSERT_TRUE(panel);
        const int black = blackAroundThePaper(*panel, before, shots + "/" + name);
        std::printf("%s: %d black pixels around the paper of a %dx%d panel\n", qPrintable(name), black,
                    panel->width(), panel->height());
        EXPECT_LT(black, 64) << name.toStdString() << ": a black frame of " << black << " pixels";
    };

    // A double click on the middle print opens the panel.
    ASSERT_TRUE(moveTo(printPoint(*r.collapsed, r.xs[1])));
    ASSERT_TRUE(xdotool({"click", "--repeat", "2", "--delay", "80", "1"}, 300));
    expectNoFrame("54-no-compositor-preview.png");
    ASSERT_TRUE(xdotool({"key", "Right"}, 1000));
    expectNoFrame("55-no-compositor-preview-next.png");
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([] { return !panelFrame(); }, 30000)) << "the panel closed";

    // Space opens it again on the selected print.
    ASSERT_TRUE(xdotool({"key", "space"}, 300));
    expectNoFrame("56-no-compositor-preview-space.png");
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
}

// Each page of photos of other shapes has a paper of its own, cut anew where no compositing manager
// blends the panel: the cut drawn and scanned pixel by pixel, and the shadow it throws away blurred
// all the same, held the main thread three times as long as paging with a compositor.
TEST(PreviewPanelAppWithoutCompositorX11, PagingThroughPhotosOfManyShapesHoldsTheMainThreadLittle) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString shots = applicationShots();
    Backdrop backdrop(Backdrop::Tone::Dark);
    ASSERT_TRUE(backdrop.cover());
    const QString desktop = makeWatchedFolders();
    QProcess app;
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(startApplication(app));
    constexpr int kPhotos = 10;
    for (int i = 0; i < kPhotos; ++i)
        ASSERT_TRUE(makePhotoLikeImage(QSize(700 + 130 * i, 1500 - 90 * i), i + 11)
                        .save(QString("%1/shape-%2.jpg").arg(desktop).arg(i), "JPEG", 85));
    ASSERT_TRUE(QTest::qWaitFor([] { return placements().size() == kPhotos; }, 60000));
    QTest::qWait(2500); // the rope settles under its prints
    const QList<double> xs = placementXs();
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QString ropeId = widestWindowId(app.processId());
    ASSERT_FALSE(ropeId.isEmpty());

    // All selected, the panel opens on the first along the rope and pages on to the last.
    ASSERT_TRUE(moveTo(printPoint(*window, xs[0])) && xdotool({"click", "1"}, 600));
    ASSERT_TRUE(xdotool({"key", "ctrl+a"}, 600));
    ASSERT_TRUE(xdotool({"key", "space"}, 300));
    ASSERT_TRUE(QTest::qWaitFor([] { return panelFrame().has_value(); }, 30000)) << "the panel";
    QTest::qWait(1500);
    qint64 longest = 0;
    for (int page = 1; page < kPhotos; ++page) {
        ASSERT_TRUE(xdotool({"key", "Right"}, 0));
        QElapsedTimer paging;
        paging.start();
        while (paging.elapsed() < 700) {
            const std::optional<qint64> answer = pingWindow(ropeId, 10000);
            ASSERT_TRUE(answer) << "the main thread did not answer on page " << page + 1;
            longest = std::max(longest, *answer);
            QTest::qWait(20);
        }
    }
    if (const std::optional<QRect> panel = panelFrame())
        grabScreenArea(panel->adjusted(-20, -20, 20, 20)).save(shots + "/57-no-compositor-last-page.png");
    std::printf("[ figure ] paging %d photos of as many shapes without a compositor: the main thread held "
                "%lld ms at most\n",
                kPhotos, static_cast<long long>(longest));
    // A page's own work, its picture drawn at the panel's size, takes a few tens of milliseconds.
    EXPECT_LT(longest, 150 * loadScale() * kCpuBoundScale) << "a page held the main thread";
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
}
