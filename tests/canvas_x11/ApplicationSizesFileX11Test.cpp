#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "WindowPing.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/stat.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr auto kSizesName = "picture-sizes.json";

QString sizesFile() {
    return storage() + "/" + kSizesName;
}

QString keptFile() {
    return sizesFile() + ".corrupt";
}

// The type of what stands under the name itself, a link not followed; 0 when nothing does.
mode_t typeAt(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// A sizes file as large as one may be, of entries for long paths no photo has.
QByteArray largeSizesFile() {
    constexpr int kEntries = 20'000;
    constexpr int kKeyLength = 800;
    QByteArray json = R"({"sizes":[)";
    json.reserve(qsizetype(kEntries) * (kKeyLength + 20));
    for (int i = 0; i < kEntries; ++i) {
        const QByteArray path =
            "/home/someone/" + QByteArray(kKeyLength - 40, 'a') + "/" + QByteArray::number(i);
        json += (i ? ",[\"" : "[\"") + path + "|1700000000.0|123456\",4000,3000]";
    }
    return json + "]}";
}

// How the application's rope answered pings from its start on: when it first did, and the
// slowest answer in the seconds after, while the start's work goes on.
struct Pings {
    qint64 firstMs = -1;
    qint64 slowestMs = -1;
};

// Starts the application (VENNIMO_TEST_APP another build of it) and pings its rope window until
// the bound for the first answer passes, and then for a while.
Pings startAndPing(QProcess& app, qint64 boundMs) {
    constexpr qint64 kFollowMs = 3000;
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer since;
    since.start();
    app.start(qEnvironmentVariable("VENNIMO_TEST_APP", QStringLiteral(VENNIMO_APP_PATH)));
    Pings pings;
    if (!app.waitForStarted())
        return pings;
    QString id;
    while (since.elapsed() < boundMs && (pings.firstMs < 0 || since.elapsed() < pings.firstMs + kFollowMs)) {
        if (id.isEmpty())
            id = widestWindowId(app.processId());
        const std::optional<qint64> answer = id.isEmpty() ? std::nullopt : pingWindow(id, int(boundMs));
        if (answer && pings.firstMs < 0)
            pings.firstMs = since.elapsed();
        else if (answer)
            pings.slowestMs = std::max(pings.slowestMs, *answer);
        QTest::qWait(20);
    }
    return pings;
}

class ApplicationSizesFileX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        // A library of prints to hang, so that the start asks for their sizes at once.
        const QString desktop = makeWatchedFolders();
        QProcess app;
        const auto stop = stopAtEnd(app);
        ASSERT_TRUE(startApplication(app));
        ASSERT_TRUE(hangDesktopPhotos(desktop, "hung", 3, 23));
        ASSERT_TRUE(terminateCountingCpu(app).finished);
    }

    // Starts the application with what `make` put under the sizes file's name, pings it and ends
    // it; false, with the failure reported, when it did not answer or end in time.
    bool startPingAndEnd(const char* what, const std::function<void()>& make) {
        QFile::remove(sizesFile());
        QFile::remove(keptFile());
        make();
        // The start, its first scan and its first frame, on a machine as loaded as it is.
        const qint64 boundMs = qint64(20'000 * loadScale());
        QProcess app;
        const auto stop = stopAtEnd(app);
        const Pings pings = startAndPing(app, boundMs);
        std::printf(
            "[ figure ] %s as the sizes file: first ping answered %lld ms after the start, the slowest "
            "in the 3 s after it in %lld ms\n",
            what, static_cast<long long>(pings.firstMs), static_cast<long long>(pings.slowestMs));
        if (pings.firstMs < 0 || pings.slowestMs < 0) {
            ADD_FAILURE() << what << ": the rope did not answer within " << boundMs << " ms";
            return false;
        }
        const Ending end = terminateCountingCpu(app);
        std::printf("[ figure ] %s as the sizes file: exit after %lld ms, %.0f ms of CPU after the signal\n",
                    what, static_cast<long long>(end.ms), end.cpuSeconds * 1000);
        if (!end.finished) {
            ADD_FAILURE() << what << ": SIGTERM did not end it";
            return false;
        }
        EXPECT_LT(end.ms, sessionEndBoundMs()) << what;
        return true;
    }
};

} // namespace

// Something other than a regular file under the sizes file's name holds neither the start nor the
// end: it is set aside unopened, kept as it stood, and the sizes learned go to a file of their own.
TEST_F(ApplicationSizesFileX11, AFifoOrALinkToADeviceAsTheSizesFileHoldsNeitherTheStartNorTheEnd) {
    const auto fifo = [] { ASSERT_EQ(::mkfifo(QFile::encodeName(sizesFile()).constData(), 0600), 0); };
    ASSERT_TRUE(startPingAndEnd("a FIFO", fifo));
    EXPECT_EQ(typeAt(keptFile()), S_IFIFO) << "the FIFO is kept as it was";
    EXPECT_TRUE(typeAt(sizesFile()) == 0 || typeAt(sizesFile()) == S_IFREG);
    if (!QFileInfo::exists("/dev/ptmx"))
        GTEST_SKIP() << "no /dev/ptmx to link to";
    const auto device = [] { ASSERT_TRUE(QFile::link("/dev/ptmx", sizesFile())); };
    ASSERT_TRUE(startPingAndEnd("a link to /dev/ptmx", device));
    EXPECT_EQ(typeAt(keptFile()), S_IFLNK) << "the link is kept as it was";
    EXPECT_TRUE(typeAt(sizesFile()) == 0 || typeAt(sizesFile()) == S_IFREG);
}

// A sizes file as large as one may be is read while the rope already answers.
TEST_F(ApplicationSizesFileX11, ALargeSizesFileHoldsNoStart) {
    const auto large = [] { writeFile(sizesFile(), largeSizesFile()); };
    ASSERT_TRUE(startPingAndEnd("a 16 MB sizes file", large));
}
