#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "DragSource.h"
#include "SlowSource.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// A few hundred bytes whose one picture lies at `link`.
QByteArray linkingSvg(const QString& link) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "width=\"400\" height=\"300\"><rect width=\"400\" height=\"300\" fill=\"#3060a0\"/>"
           "<image width=\"400\" height=\"300\" xlink:href=\"" +
           QFile::encodeName(link) + "\"/></svg>\n";
}

// Some 21 MB of translucent rectangles: reading even its size takes the helper most of a second.
QByteArray largeSvg() {
    constexpr int kRectangles = 300'000;
    QByteArray svg(R"(<svg xmlns="http://www.w3.org/2000/svg" width="4000" height="3000">)");
    svg.reserve(qsizetype(kRectangles) * 72 + 100);
    for (int i = 0; i < kRectangles; ++i)
        svg += R"(<rect width="4000" height="3000" fill="#3060a0" fill-opacity="0.01"/>)"
               "\n";
    return svg + "</svg>\n";
}

// Whether a child of the process runs the SVG helper now (its name cut to 15 letters, as the
// kernel keeps it).
bool drawingSvg(qint64 pid) {
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (close > 0 && fields.size() > 1 && fields[1].toLongLong() == pid &&
            line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1) == "vennimo-svg-dra")
            return true;
    }
    return false;
}

class ApplicationSvgSessionEndX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        ASSERT_TRUE(outside.isValid());
        fifo = outside.filePath("waiting");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    }

    // SIGTERM to the application, bounded in time as a session gives it, and its figure printed.
    void endSession(QProcess& app, const char* what) {
        const Ending end = terminateCountingCpu(app);
        std::printf("[ figure ] SIGTERM %s: exit after %lld ms, %.0f ms of CPU after the signal, %d helpers "
                    "working after it\n",
                    what, static_cast<long long>(end.ms), end.cpuSeconds * 1000, end.helpers);
        ASSERT_TRUE(end.finished) << what;
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << what;
        // A session end has its goal's time, which a loaded machine stretches as it stretches every
        // other session end's. A read that waited for what it links to would hold the exit for the
        // rest of its 10 s bound, some 8 s after the signal: the bound stays below that.
        constexpr qint64 kBelowAWaitedReadMs = 6000;
        EXPECT_LT(end.ms, std::min(sessionEndBoundMs(), kBelowAWaitedReadMs))
            << what << ": the session end waited for an SVG's reading";
        EXPECT_LT(end.cpuSeconds, 0.2 * cpuAfterSignalScale())
            << what << ": a reading under way was finished first";
    }

    QTemporaryDir outside;
    QString fifo;
};

} // namespace

// The Desktop's SVGs are read for their sizes and thumbnails as they land; a session ending
// meanwhile waits for none of those readings.
TEST_F(ApplicationSvgSessionEndX11, SvgsLandingOnTheDesktopHoldNoSessionEnd) {
    const QString desktop = makeWatchedFolders();
    const struct {
        const char* what;
        QByteArray svg;
    } cases[] = {
        {"1.5 s after an SVG linking a FIFO landed on the Desktop", linkingSvg(fifo)},
        {"while a 21 MB SVG on the Desktop is read", largeSvg()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess app;
        const auto stop = stopAtEnd(app);
        ASSERT_TRUE(startApplication(app));
        const QString staging = outside.filePath("landing.svg");
        writeFile(staging, c.svg);
        const QString landed = desktop + "/" + QString::number(&c - cases) + ".svg";
        ASSERT_TRUE(QFile::rename(staging, landed));
        // Gone before the next start, which would read it again.
        const auto leave = qScopeGuard([&] { QFile::remove(landed); });
        // The large one's reading may end before it is seen on a quiet machine: then nothing waits.
        if (c.svg.size() > 1000 && !QTest::qWaitFor([&] { return drawingSvg(app.processId()); }, 10000))
            std::printf("[ note ] the SVG helper was not seen running\n");
        else if (c.svg.size() <= 1000)
            QTest::qWait(1500);
        ASSERT_NO_FATAL_FAILURE(endSession(app, c.what));
    }
}

// Dropped as bytes or as a file from a temporary folder, the same SVGs are checked before they are
// taken in; a session ending meanwhile waits for none of those checks.
TEST_F(ApplicationSvgSessionEndX11, DroppedSvgsHoldNoSessionEnd) {
    const QString desktop = makeWatchedFolders();
    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());
    const QString linking = outside.filePath("linking.svg");
    writeFile(linking, linkingSvg(fifo));
    const QString large = outside.filePath("large.svg");
    writeFile(large, largeSvg());
    const auto asFile = [](const QString& path) {
        return "text/uri-list=text:" + QUrl::fromLocalFile(path).toString() + "\r\n";
    };
    const struct {
        const char* what;
        QString offer;
        bool large;
    } cases[] = {
        {"after an SVG linking a FIFO was dropped as image/svg+xml bytes", "image/svg+xml=file:" + linking,
         false},
        {"after an SVG linking a FIFO was dropped as a file", asFile(linking), false},
        {"while a dropped 21 MB SVG file is checked", asFile(large), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess app;
        const auto stop = stopAtEnd(app);
        ASSERT_TRUE(startApplication(app));
        // The print hung at the first start hangs at the later ones, beside what their drops took in.
        if (&c == cases)
            ASSERT_TRUE(hangDesktopPhotos(desktop, "svg", 1, 95));
        else
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return applicationWindow(app.processId()).has_value(); }, 60000));
        QTest::qWait(2500);
        const std::optional<QRect> window = applicationWindow(app.processId());
        ASSERT_TRUE(window);
        const QPoint onPrint = printPoint(*window, placementXs().value(0));
        QByteArray said;
        QProcess source;
        ASSERT_TRUE(startSlowSource(source, sourceFrameBelow(*window), {c.offer}, said));
        QProcess gesture;
        startDragGesture(gesture, sourceFrameBelow(*window).center(), onPrint, 0.6);
        const auto stopSource = stopAtEnd(source);
        ASSERT_TRUE(awaitDropped(gesture, source, said, "dropped")) << said.toStdString();
        if (c.large && !QTest::qWaitFor([&] { return drawingSvg(app.processId()); }, 10000))
            std::printf("[ note ] the SVG helper was not seen running\n");
        else if (!c.large)
            QTest::qWait(1500);
        ASSERT_NO_FATAL_FAILURE(endSession(app, c.what));
    }
}
