#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "DragSource.h"
#include "PhotoLikeImages.h"
#include "core/ExhibitionJournal.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QImageWriter>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include <csignal>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The most memory the application may hold during a drop of large progressive photos, as the drop
// promises: the coefficients its checks keep at once stay within one share (300 MB), the photos'
// bytes and the gallery itself take some 100 MB more, where checks that all kept theirs at once
// would take over 2 GB. Runs peak near 390 MB; in the sanitizer build the quarantine of freed
// memory doubles that.
constexpr qint64 kDropPeakBoundKiB = 600 * 1024;

// Another program's window: a press drags what `offer` makes, as a file manager or a browser.
class OfferingSource : public DragSource {
public:
    OfferingSource()
        : DragSource(QColor(70, 110, 90), QColor(200, 80, 60), Qt::CopyAction | Qt::MoveAction,
                     Qt::CopyAction) {}
};

// A web server that takes each connection and answers only when told to.
class HeldServer {
public:
    HeldServer() { m_server.listen(QHostAddress::LocalHost); }
    QUrl url(int index) const {
        return QUrl(QString("http://127.0.0.1:%1/%2.jpg").arg(m_server.serverPort()).arg(index));
    }
    // Waits for the next request; false when none came.
    bool waitForRequest() {
        return QTest::qWaitFor(
            [&] {
                while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                    socket->setParent(&m_server);
                    m_waiting.append(socket);
                }
                return !m_waiting.isEmpty();
            },
            15000);
    }
    // Answers every request held with the picture.
    void answer(const QByteArray& jpeg) {
        for (QTcpSocket* socket : std::as_const(m_waiting)) {
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\nContent-Length: " +
                QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg);
            socket->flush();
            socket->disconnectFromHost();
        }
        m_waiting.clear();
    }

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_waiting;
};

// The rope of a started application with one print hung, another program's drag source below it
// and a web server that answers when told: the scene of a drop the user tries to quit during.
struct HeldDropRope {
    QString desktop = makeWatchedFolders();
    QString shots = applicationShots();
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;
    QPoint onPrint;
    OfferingSource source;
    HeldServer server;

    ~HeldDropRope() {
        app.kill();
        app.waitForFinished();
    }
    // False, with the failure reported, when something did not come up.
    bool start(const QString& prefix, int seed) {
        if (!backdrop.cover() || !startApplication(app) || !hangDesktopPhotos(desktop, prefix, 1, seed)) {
            ADD_FAILURE() << "the application with one print did not come up";
            return false;
        }
        const std::optional<QRect> window = applicationWindow(app.processId());
        if (!window) {
            ADD_FAILURE() << "no rope window";
            return false;
        }
        onPrint = printPoint(*window, placementXs().value(0));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        source.setWindowTitle("source");
        source.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
        source.show();
        if (!QTest::qWaitForWindowExposed(&source)) {
            ADD_FAILURE() << "the drag source did not show";
            return false;
        }
        QTest::qWait(300);
        return true;
    }
};

QByteArray jpegBytes(QSize size, int seed) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    makePhotoLikeImage(size, seed).save(&buffer, "JPEG", 88);
    return bytes;
}

// The windows of the application that were not among `before`.
QStringList newWindows(qint64 pid, const QStringList& before) {
    QStringList added;
    for (const QString& id : visibleWindowIds(pid))
        if (!before.contains(id))
            added.append(id);
    return added;
}

// The window of the application that was not among `before`, once one shows.
QString waitForNewWindow(qint64 pid, const QStringList& before, int ms = 8000) {
    QString found;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            const QStringList added = newWindows(pid, before);
            found = added.value(0);
            return !found.isEmpty();
        },
        ms));
    return found;
}

// Opens the tray menu and chooses its last item, "退出Vennimo". Answers the windows shown while
// the menu was open, the menu among them.
std::optional<QStringList> quitFromTray(qint64 pid) {
    const std::optional<QRect> icon = trayIcon();
    if (!icon)
        return std::nullopt;
    const QStringList before = visibleWindowIds(pid);
    xdotool({"mousemove", QString::number(icon->center().x()), QString::number(icon->center().y())}, 100);
    xdotool({"click", "3"}, 100);
    if (waitForNewWindow(pid, before, 5000).isEmpty())
        return std::nullopt;
    QTest::qWait(300);
    const QStringList open = visibleWindowIds(pid);
    xdotool({"key", "Up"}, 80);
    xdotool({"key", "Return"}, 0);
    return open;
}

bool dropOffer(OfferingSource& source, const std::function<QMimeData*()>& offer, QPoint to) {
    source.result.reset();
    source.offer = offer;
    QProcess gesture;
    startDragGesture(gesture, source.geometry().center(), to, 0.6);
    return QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning && source.result; }, 15000);
}

int exhibitedCount() {
    return int(readJson(storage() + "/exhibition.json").size());
}

bool stillRunning(QProcess& app, int ms) {
    return !app.waitForFinished(ms) && app.state() == QProcess::Running;
}

// The application's dialogs on screen, by X id: the windows it asks the window manager to treat
// as dialogs.
QStringList dialogWindows(qint64 pid) {
    QStringList dialogs;
    for (const QString& id : visibleWindowIds(pid))
        if (runProgram("xprop", {"-id", id, "_NET_WM_WINDOW_TYPE"}).contains("_NET_WM_WINDOW_TYPE_DIALOG"))
            dialogs.append(id);
    return dialogs;
}

} // namespace

TEST(ApplicationDropQuitX11, AQuitWhileADropIsSavedIsRefusedAndNoAnsweredQuitComesBack) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    HeldDropRope rope;
    ASSERT_TRUE(rope.start("quit", 91));
    const QString& desktop = rope.desktop;
    const QString& shots = rope.shots;
    QProcess& app = rope.app;
    const qint64 pid = app.processId();
    const QPoint onPrint = rope.onPrint;
    OfferingSource& source = rope.source;
    HeldServer& server = rope.server;
    const QByteArray picture = jpegBytes({900, 600}, 92);

    // A quit from the tray while a dropped image downloads: refused with its reason, and the
    // download goes on.
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({server.url(1)}); }, onPrint));
    ASSERT_TRUE(server.waitForRequest()) << "the drop is being saved";
    std::optional<QStringList> menuOpen = quitFromTray(pid);
    ASSERT_TRUE(menuOpen) << "the tray menu opens";
    const QString refusal = waitForNewWindow(pid, *menuOpen);
    ASSERT_FALSE(refusal.isEmpty()) << "the quit says why it is refused";
    QTest::qWait(400);
    grabScreenArea(clientAreaOf(refusal)).save(shots + "/drop-quit-1-refused.png");
    const QSize refusalSize = clientAreaOf(refusal).size();
    xdotool({"windowactivate", "--sync", refusal}, 100);
    xdotool({"key", "Return"}, 300);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !visibleWindowIds(pid).contains(refusal); }, 5000));
    server.answer(picture);
    EXPECT_TRUE(QTest::qWaitFor([] { return exhibitedCount() == 1; }, 15000)) << "the drop was saved";
    EXPECT_TRUE(stillRunning(app, 3000)) << "the refused quit came back by itself";

    // The prints' state cannot be written: a quit asks what to do.
    for (const char* name : {"clothesline-positions.json", "photo-interactions.json"}) {
        QFile::remove(storage() + "/" + name);
        QDir().mkpath(storage() + "/" + name);
    }
    ASSERT_TRUE(makePhotoLikeImage({1200, 900}, 93).save(desktop + "/owed.jpg", "JPEG", 88));
    QTest::qWait(3000);

    // Refused again during a drop; when the drop ends nothing asks and nothing quits.
    QStringList before = visibleWindowIds(pid);
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({server.url(2)}); }, onPrint));
    ASSERT_TRUE(server.waitForRequest());
    menuOpen = quitFromTray(pid);
    ASSERT_TRUE(menuOpen);
    const QString second = waitForNewWindow(pid, *menuOpen);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(clientAreaOf(second).size(), refusalSize) << "the same refusal";
    xdotool({"windowactivate", "--sync", second}, 100);
    xdotool({"key", "Return"}, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return newWindows(pid, before).isEmpty(); }, 5000));
    server.answer(picture);
    EXPECT_FALSE(QTest::qWaitFor([&] { return !newWindows(pid, before).isEmpty(); }, 4000))
        << "an alert came by itself after the drop";
    EXPECT_TRUE(stillRunning(app, 500));

    // Nothing runs: the quit asks about the state it cannot write, and the user cancels.
    menuOpen = quitFromTray(pid);
    ASSERT_TRUE(menuOpen);
    const QString unsaved = waitForNewWindow(pid, *menuOpen);
    ASSERT_FALSE(unsaved.isEmpty()) << "the unsaved-state alert shows";
    QTest::qWait(400);
    grabScreenArea(clientAreaOf(unsaved)).save(shots + "/drop-quit-2-unsaved-state.png");
    EXPECT_NE(clientAreaOf(unsaved).size(), refusalSize) << "not the refusal";
    xdotool({"windowactivate", "--sync", unsaved}, 100);
    xdotool({"key", "Escape"}, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return newWindows(pid, before).isEmpty(); }, 5000));
    EXPECT_TRUE(stillRunning(app, 500)) << "取消 keeps the application";

    // A later drop that ends, failing to save as the state does, brings no alert back.
    const QString pictures = TestEnvironment::root() + "/Pictures";
    QDir().mkpath(pictures);
    writeFile(pictures + "/later-1.jpg", jpegBytes({800, 600}, 94));
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({QUrl::fromLocalFile(pictures + "/later-1.jpg")}); }, onPrint));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !newWindows(pid, before).isEmpty(); }, 4000))
        << "the cancelled quit asked again";

    // Once the state can be written, a drop hangs and the cancelled quit does not end the process.
    for (const char* name : {"clothesline-positions.json", "photo-interactions.json"})
        QDir(storage() + "/" + name).removeRecursively();
    writeFile(pictures + "/later-2.jpg", jpegBytes({800, 600}, 95));
    const int exhibited = exhibitedCount();
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({QUrl::fromLocalFile(pictures + "/later-2.jpg")}); }, onPrint));
    EXPECT_TRUE(QTest::qWaitFor([&] { return exhibitedCount() > exhibited; }, 15000));
    EXPECT_TRUE(stillRunning(app, 3000)) << "the cancelled quit ended the process later";
    EXPECT_TRUE(newWindows(pid, before).isEmpty());

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitCode(), 0);
}

TEST(ApplicationDropQuitX11, CtrlCAgainAndAgainDuringADropShowsOneAlertThatGoesWithTheDrop) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    HeldDropRope rope;
    ASSERT_TRUE(rope.start("ctrl-c", 97));
    const QString& shots = rope.shots;
    QProcess& app = rope.app;
    const qint64 pid = app.processId();
    const QPoint onPrint = rope.onPrint;
    OfferingSource& source = rope.source;
    HeldServer& server = rope.server;
    const QByteArray picture = jpegBytes({900, 600}, 98);
    ASSERT_TRUE(dialogWindows(pid).isEmpty());

    // A terminal's Ctrl+C every 100 ms while a dropped image downloads: one alert says why, in
    // front, and the download goes on.
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({server.url(1)}); }, onPrint));
    ASSERT_TRUE(server.waitForRequest()) << "the drop is being saved";
    constexpr int kSignals = 30;
    for (int i = 0; i < kSignals; ++i) {
        ::kill(pid_t(pid), SIGINT);
        QTest::qWait(100);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogWindows(pid).isEmpty(); }, 8000)) << "the quit says why";
    QTest::qWait(1500);
    const QStringList alerts = dialogWindows(pid);
    std::printf("[ figure ] %d SIGINTs during a held drop: %lld alert windows\n", kSignals,
                static_cast<long long>(alerts.size()));
    EXPECT_EQ(alerts.size(), 1) << "alerts stacked up";
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/drop-quit-3-one-alert.png");

    // The drop ends: the alert goes by itself, and the refused quits never come back.
    server.answer(picture);
    EXPECT_TRUE(QTest::qWaitFor([] { return exhibitedCount() == 1; }, 15000)) << "the drop was saved";
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogWindows(pid).isEmpty(); }, 8000))
        << "the alert stayed after the drop";
    EXPECT_TRUE(stillRunning(app, 3000)) << "a refused quit ran when the drop ended";
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/drop-quit-4-alert-gone.png");
    EXPECT_TRUE(dialogWindows(pid).isEmpty());

    // SIGTERM while the alert is up still ends the process, the drop stopped where it was.
    ASSERT_TRUE(dropOffer(
        source, [&] { return urlsOffer({server.url(2)}); }, onPrint));
    ASSERT_TRUE(server.waitForRequest());
    ::kill(pid_t(pid), SIGINT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogWindows(pid).size() == 1; }, 8000));
    ::kill(pid_t(pid), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(20000)) << "SIGTERM did not end it";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(exhibitedCount(), 1) << "the stopped drop saved nothing";
}

TEST(ApplicationDropQuitX11, ASessionEndStopsALargeDropOfLocalPhotos) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    // Outside the temporary folders, as a user's pictures are: files from those are copied in,
    // these are hung where they lie.
    const std::optional<QString> userFiles = userFilesParent();
    if (!userFiles)
        GTEST_SKIP() << "no place for a user's own photos: the build folder "
                     << QCoreApplication::applicationDirPath().toStdString()
                     << " lies in a folder the application counts as temporary, like the test home, "
                        "and no mount could show them elsewhere";
    const QString desktop = makeWatchedFolders();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    // Distinct camera-sized files, as a file manager drops them.
    constexpr int kPhotos = 60;
    constexpr int kPictures = 4;
    std::vector<QByteArray> pictures(kPictures);
    {
        std::vector<std::thread> makers;
        for (int i = 0; i < kPictures; ++i)
            makers.emplace_back([&pictures, i] { pictures[size_t(i)] = grainyJpeg(4000, 3000, i + 5); });
        for (std::thread& maker : makers)
            maker.join();
    }
    QTemporaryDir pictureFolder(*userFiles + "/drop-photos-XXXXXX");
    ASSERT_TRUE(pictureFolder.isValid());
    const QString folder = pictureFolder.path();
    QList<QUrl> urls;
    struct Original {
        QString path;
        qint64 size;
        QDateTime modified;
    };
    QList<Original> originals;
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = QString("%1/IMG_%2.jpg").arg(folder).arg(2000 + i);
        writeFile(path, withComment(pictures[size_t(i % kPictures)], i));
        urls.append(QUrl::fromLocalFile(path));
        originals.append({path, QFileInfo(path).size(), QFileInfo(path).lastModified()});
    }

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(hangDesktopPhotos(desktop, "first", 1, 96));
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    OfferingSource source;
    source.setWindowTitle("camera folder");
    source.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
    source.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&source));
    QTest::qWait(300);

    // SIGTERM as soon as the first dropped photo has its thumbnail: the drop is under way.
    const QDir thumbnails(storage() + "/exhibition-thumbnails");
    const auto drawn = [&] { return int(thumbnails.entryList({"*.jpg"}, QDir::Files).size()); };
    source.offer = [&] { return urlsOffer(urls); };
    QProcess gesture;
    startDragGesture(gesture, source.geometry().center(), printPoint(*window, placementXs().value(0)), 0.6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return drawn() > 0; }, 60000)) << "the drop was not taken";
    QElapsedTimer ending;
    ending.start();
    ::kill(pid_t(app.processId()), SIGTERM);
    const int atSignal = drawn();
    const bool ended = app.waitForFinished(60000);
    std::printf("[ figure ] SIGTERM during a drop of %d large photos: exit after %lld ms, %d of them hang\n",
                kPhotos, static_cast<long long>(ending.elapsed()), drawn());
    ASSERT_TRUE(ended);
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    static_cast<void>(QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 5000));

    // Only the photos begun before the signal was acted on are saved, and each of them hangs.
    const int saved = drawn();
    const int inFlight = 2 * QThread::idealThreadCount();
    EXPECT_LT(saved, kPhotos) << "the rest of the drop was still imported";
    EXPECT_LE(saved, atSignal + inFlight) << "photos were begun after the signal";
    EXPECT_EQ(exhibitedCount(), saved) << "every thumbnail belongs to a hung photo";
    EXPECT_EQ(placements().size(), saved + 1);

    // Nothing half-written stays: no temporary thumbnail, no copy, no list of unfinished files.
    const QStringList strays = thumbnails.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : strays)
        EXPECT_TRUE(name.endsWith(".jpg")) << name.toStdString();
    EXPECT_TRUE(QDir(storage() + "/imported-images").entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(QDir(storage() + "/pending-imports").entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storage())));

    // The originals are as they were.
    for (int i = 0; i < kPhotos; ++i) {
        const QFileInfo now(originals[i].path);
        ASSERT_TRUE(now.exists()) << originals[i].path.toStdString();
        EXPECT_EQ(now.size(), originals[i].size);
        EXPECT_EQ(now.lastModified(), originals[i].modified);
    }
    EXPECT_EQ(readFile(originals[0].path), withComment(pictures[0], 0));
}

TEST(ApplicationDropQuitX11,
     ASessionEndDuringADropOfPhotosFromATemporaryFolderEndsWithoutFinishingTheirWork) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    // Progressive camera-sized files in a temporary folder, as a browser or an archive leaves
    // them: each is copied in and checked, and each check holds the picture's coefficients, whose
    // memory the kernel must give back at the end.
    constexpr int kPhotos = 32;
    constexpr int kPictures = 4;
    std::vector<QByteArray> pictures(kPictures);
    {
        std::vector<std::thread> makers;
        for (int i = 0; i < kPictures; ++i)
            makers.emplace_back(
                [&pictures, i] { pictures[size_t(i)] = grainyJpeg(5640, 3172, i + 9, true); });
        for (std::thread& maker : makers)
            maker.join();
    }
    QTemporaryDir pictureFolder;
    ASSERT_TRUE(pictureFolder.isValid());
    QList<QUrl> urls;
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = QString("%1/IMG_%2.jpg").arg(pictureFolder.path()).arg(3000 + i);
        writeFile(path, withComment(pictures[size_t(i % kPictures)], i));
        urls.append(QUrl::fromLocalFile(path));
    }

    QProcess app;
    ASSERT_TRUE(startApplication(app, true));
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(hangDesktopPhotos(desktop, "first", 1, 97));
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    OfferingSource source;
    source.setWindowTitle("downloads");
    source.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
    source.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&source));
    QTest::qWait(300);

    // SIGTERM once the first copies are being made: the drop is under way.
    const QDir copies(storage() + "/imported-images");
    const auto named = [&] { return int(copies.entryList({"*.jpg"}, QDir::Files).size()); };
    const auto copying = [&] {
        return !copies.entryList({".*.partial"}, QDir::Files | QDir::Hidden).isEmpty();
    };
    source.offer = [&] { return urlsOffer(urls); };
    QProcess gesture;
    startDragGesture(gesture, source.geometry().center(), printPoint(*window, placementXs().value(0)), 0.6);
    ASSERT_TRUE(QTest::qWaitFor(copying, 60000)) << "the drop was not taken";
    // Once the first copies are checked, the checks of the next ones are decoding them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return named() >= 1; }, 60000)) << "no copy was checked";
    QTest::qWait(500);
    const std::optional<qint64> peak = peakResidentKiB(app.processId());
    const Ending end = terminateCountingCpu(app);
    const double cpuAfter = end.cpuSeconds;
    std::printf(
        "[ figure ] SIGTERM during a drop of %d large progressive photos from a temporary folder: exit "
        "after %lld ms, %.0f ms of CPU after the signal, %d copies hang, peak RSS %lld MiB\n",
        kPhotos, static_cast<long long>(end.ms), cpuAfter * 1000, named(),
        static_cast<long long>(peak.value_or(0) / 1024));
    ASSERT_TRUE(end.finished);
    EXPECT_LT(end.ms, sessionEndBoundMs()) << "the session end waited for the drop's work";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    // Each check holds one picture's coefficients: a drop checks a few at a time, never all of them.
    EXPECT_LT(peak.value_or(0), kDropPeakBoundKiB * kMemoryBoundScale)
        << "the drop's checks were not bounded in memory";
    static_cast<void>(QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 5000));
    // The copies, checks and reads under way stop where they are instead of running to their end,
    // and the process holds no more memory than the kernel can give back within the bound.
    EXPECT_LT(cpuAfter, 0.2 * cpuAfterSignalScale())
        << "the work under way at the signal was finished before the process ended, or its memory "
           "took that long to give back";
    // A decoding stopped part-way is thrown away, not finished from made-up data with a complaint.
    const QByteArray errors = app.readAllStandardError();
    EXPECT_FALSE(errors.contains("Corrupt JPEG data")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("libpng error")) << errors.toStdString();

    // Nothing half-written stays, every named copy is whole and hangs, and the sources are untouched.
    EXPECT_TRUE(copies.entryList(QDir::Files | QDir::Hidden).filter(".partial").isEmpty());
    EXPECT_TRUE(QDir(storage() + "/pending-imports").entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storage())));
    QSet<QByteArray> given;
    for (int i = 0; i < kPhotos; ++i)
        given.insert(withComment(pictures[size_t(i % kPictures)], i));
    for (const QString& name : copies.entryList({"*.jpg"}, QDir::Files))
        EXPECT_TRUE(given.contains(readFile(copies.filePath(name))))
            << "a copy is not whole: " << name.toStdString();
    EXPECT_EQ(exhibitedCount(), named());
    for (int i = 0; i < kPhotos; ++i)
        EXPECT_EQ(readFile(urls[i].toLocalFile()), withComment(pictures[size_t(i % kPictures)], i));
}
