#include "shell/GalleryApplication.h"

#include "model/RopeModelFixture.h"
#include "platform/ProcessExit.h"
#include "platform/SessionWatcher.h"
#include "platform/UnixSignals.h"
#include "platform/Updater.h"
#include "settings/SettingsEditorPort.h"
#include "shell/GalleryPresenceController.h"
#include "shell/GalleryShortcutController.h"
#include "shell/GalleryStatusItem.h"
#include "shell/GalleryWindow.h"
#include "shell/SettingsWindow.h"
#include "shell/SourceStore.h"
#include "support/WaitUntil.h"
#include "widgets/QuitBlockedAlert.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Holds the key as asked and notes, in the shared log, when it lets go.
class RecordingHotKey : public GlobalHotKey {
public:
    explicit RecordingHotKey(QStringList& log)
        : m_log(log) {}
    bool installHandler() override { return m_installed = true; }
    void removeHandler() override { m_installed = false; }
    bool handlerInstalled() const override { return m_installed; }
    Result<int> registerKey(const GalleryShortcut&) override { return 1; }
    void unregisterKey(int) override { m_log.append(QStringLiteral("hotKeyReleased")); }

private:
    QStringList& m_log;
    bool m_installed = false;
};

struct FakeSettingsEditor : SettingsEditorPort {
    bool isSaving = false;
    bool changed = false;
    int discards = 0;
    bool saving() const override { return isSaving; }
    bool hasChanges() const override { return changed; }
    void discard() override {
        ++discards;
        changed = false;
    }
};

// The application over the temporary home, with a placement writer the test can make fail and
// a debounce long enough that a change stays owed until the quit.
struct LaunchedApp {
    QStringList log;
    QStringList alerts;
    std::shared_ptr<std::atomic<bool>> placementsFail = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<GalleryApplication> app;
    std::optional<int> launched;

    explicit LaunchedApp(const std::function<void(GalleryApplicationParts&)>& adjust = {}) {
        GalleryApplicationParts parts = GalleryApplicationParts::standard();
        parts.unixSignals = nullptr;
        parts.sessionWatcher = [] {
            // A bus that is not there: nothing from the real logind reaches the test.
            return std::make_unique<SessionWatcher>(QDBusConnection(QStringLiteral("vennimo-test-no-bus")));
        };
        parts.hotKey = [this] { return std::make_unique<RecordingHotKey>(log); };
        parts.model = [this](std::unique_ptr<Indexer> indexer) {
            GalleryModel::Options options;
            options.placementsWriter = switchableStateWriter(placementsFail, std::chrono::minutes(1));
            return std::make_unique<GalleryModel>(std::move(indexer), true, std::move(options));
        };
        parts.launchStep = [this](const QString& step) { log.append(step); };
        parts.quitBlockedAlert = [this](const QString& reason) -> std::unique_ptr<QWidget> {
            alerts.append(reason);
            return QuitBlockedAlert::makeAlert(reason);
        };
        parts.handOverClipboard = [this] { log.append(QStringLiteral("clipboardHandedOver")); };
        parts.exit = [this](int status) { log.append(QStringLiteral("exit %1").arg(status)); };
        if (adjust)
            adjust(parts);
        app = std::make_unique<GalleryApplication>(std::move(parts));
        launched = app->launch();
    }
    ~LaunchedApp() { app.reset(); }

    GalleryModel& model() const { return *app->model(); }
    QStringList quitSteps() const {
        QStringList steps;
        for (const QString& entry : log)
            if (entry == "clipboardHandedOver" || entry == "hotKeyReleased" || entry.startsWith("exit"))
                steps.append(entry);
        return steps;
    }
    // Two prints on the rope and the first raised: a placement write owed for a minute.
    void owePlacement() {
        ASSERT_TRUE(waitUntil([&] { return model().appliedScanCount() > 0; }));
        const QList<Photo> photos{recordPhoto(1), recordPhoto(2)};
        model().setPhotos(photos);
        model().observeClothesline(photos);
        ASSERT_TRUE(model().ensureClotheslinePositions(10));
        ASSERT_TRUE(model().bringClotheslinePhotoToFront(photos[0]));
        ASSERT_TRUE(model().clotheslinePlacements().deferredWriter().needsSave());
    }
};

const QStringList kQuitSteps{"clipboardHandedOver", "hotKeyReleased", "exit 0"};

// The alerts on screen, by their messages.
QStringList shownAlerts() {
    QStringList texts;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* alert = qobject_cast<QMessageBox*>(window); alert && alert->isVisible())
            texts.append(alert->text());
    return texts;
}

} // namespace

TEST(GalleryApplication, LaunchBuildsEveryPartInOrderAndFrontsTheEmptyRope) {
    // A folder listed in the sources file is what the indexer watches, and a built-in folder
    // switched off there is not.
    const QString watched = makeFolder("Pictures/Screens");
    writeFile(storageFolder() + "/" + SourceStore::kFileName,
              QStringLiteral(R"([{"id":"A","kind":"desktop","path":"%1","enabled":false},)"
                             R"({"id":"B","path":"%2","enabled":true}])")
                  .arg(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), watched)
                  .toUtf8());
    LaunchedApp launched;
    ASSERT_FALSE(launched.launched.has_value());
    const QStringList order{"storage",
                            "singleInstance",
                            "leftovers",
                            "updater",
                            "sourceStore",
                            "loginSetting",
                            "indexer",
                            "model",
                            "sessionWatcher",
                            "wiring",
                            "window",
                            "statusItem",
                            "presence",
                            "shortcutController",
                            "firstPresencePass",
                            "modelStarted"};
    EXPECT_EQ(launched.log, order);

    GalleryApplication& app = *launched.app;
    EXPECT_EQ(app.window()->windowTitle(), QStringLiteral("Vennimo"));
    // Qt's own buttons and file dialogs speak the screens' language.
    EXPECT_EQ(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(), "取消");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Directory:"), "目录：");
    EXPECT_TRUE(app.window()->isVisible()) << "the first pass fronts even an empty rope";
    EXPECT_EQ(app.presence()->frontCount(), 1);
    EXPECT_EQ(app.activationPolicy(), ActivationPolicy::regular);
    EXPECT_TRUE(app.shortcutController()->registered());
    EXPECT_TRUE(app.model()->started());
    QStringList roots;
    for (const SourceRoot& root : app.model()->configuredRoots())
        roots.append(root.path);
    EXPECT_TRUE(roots.contains(QFileInfo(watched).canonicalFilePath())) << roots.join(", ").toStdString();
    EXPECT_FALSE(roots.contains(
        QFileInfo(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)).canonicalFilePath()));

    // Hot key and tray toggle: closed, then open again.
    app.toggleGallery();
    EXPECT_FALSE(app.window()->isVisible());
    EXPECT_TRUE(app.presence()->manuallyCollapsed());
    EXPECT_EQ(app.activationPolicy(), ActivationPolicy::accessory);
    app.toggleGallery();
    EXPECT_TRUE(app.window()->isVisible());
    EXPECT_FALSE(app.presence()->manuallyCollapsed());

    // The settings stand-in is made once and kept.
    app.showSettings();
    SettingsWindow* settings = app.settingsWindow();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->windowTitle(), QStringLiteral("设置"));
    settings->close();
    app.showSettings();
    EXPECT_EQ(app.settingsWindow(), settings);
}

TEST(GalleryApplication, WindowsShowTheApplicationIconAndTheSettingsOpenCentred) {
    const QString missing = makeFolder("icons") + "/missing.png";
    {
        LaunchedApp launched([&](GalleryApplicationParts& parts) { parts.applicationIcon = missing; });
        EXPECT_TRUE(QApplication::windowIcon().isNull()) << "a missing icon leaves the desktop's";
    }
    const QString icon = makeFolder("icons") + "/vennimo.png";
    saveImage(makeImage(64, 64, Qt::darkCyan), icon);
    LaunchedApp launched([&](GalleryApplicationParts& parts) { parts.applicationIcon = icon; });
    GalleryApplication& app = *launched.app;
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    app.showSettings();
    SettingsWindow& settings = *app.settingsWindow();
    for (const QWidget* window : {static_cast<QWidget*>(app.window()), static_cast<QWidget*>(&settings)})
        EXPECT_EQ(window->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());

    // Moved aside and closed, it opens in the middle again; while open it stays where it is.
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((settings.frameGeometry().center() - centre).manhattanLength(), 8);
    settings.move(settings.pos() + QPoint(-150, 90));
    app.showSettings();
    EXPECT_GT((settings.frameGeometry().center() - centre).manhattanLength(), 100) << "already open";
    settings.close();
    app.showSettings();
    EXPECT_LE((settings.frameGeometry().center() - centre).manhattanLength(), 8);
    QApplication::setWindowIcon(QIcon());
}

// Activation catches up with the folders, but the tray menu taking the keyboard is no visit: a
// full rescan begun then would be work nobody asked for.
TEST(GalleryApplication, OpeningTheTrayMenuStartsNoRescan) {
    LaunchedApp launched;
    GalleryModel& model = launched.model();
    GalleryWindow* window = launched.app->window();
    window->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window; }));
    ASSERT_TRUE(waitUntil([&] { return model.appliedScanCount() > 0 && !model.scanInFlight(); }));
    QMenu& menu = launched.app->statusItem()->menu();
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(menu.isVisible());
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(model.scanInFlight()) << "the open menu started a rescan";
    // Closed without quitting, with a window of ours in front: that is a visit after all.
    const int scans = model.appliedScanCount();
    menu.hide();
    EXPECT_TRUE(waitUntil([&] { return model.scanInFlight() || model.appliedScanCount() > scans; }));
}

TEST(GalleryApplication, EveryQuitGoesThroughOnePath) {
    LaunchedApp launched;
    GalleryApplication& app = *launched.app;
    GalleryModel& model = launched.model();

    // Deleting: the user is told why; nothing ends.
    model.setDeleting(true);
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(launched.alerts, QStringList{"正在删除照片"});
    EXPECT_TRUE(launched.quitSteps().isEmpty());

    // The settings draft being saved holds the quit silently; unsaved changes are dropped.
    model.setDeleting(false);
    FakeSettingsEditor editor;
    app.showSettings();
    app.settingsWindow()->setEditor(&editor);
    editor.isSaving = true;
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_FALSE(app.settingsWindow()->close()) << "the window stays while it saves";
    EXPECT_EQ(launched.alerts.size(), 1);
    editor.isSaving = false;
    editor.changed = true;

    // A failed flush asks; cancel stays with the state still owed.
    launched.owePlacement();
    launched.placementsFail->store(true);
    QList<DeferredStateExitChoice> answers{DeferredStateExitChoice::cancel};
    int asked = 0;
    model.setDeferredStateAlert([&](const Error&) {
        ++asked;
        return answers.takeFirst();
    });
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(editor.discards, 1) << "the draft is dropped before the flush";
    EXPECT_TRUE(model.clotheslinePlacements().deferredWriter().needsSave());
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    EXPECT_FALSE(ProcessExit::announced()) << "a refused quit stopped the decodes";

    // Retry after the disk came back quits, with the state written.
    model.setDeferredStateAlert([&](const Error&) {
        ++asked;
        launched.placementsFail->store(false);
        return DeferredStateExitChoice::retry;
    });
    EXPECT_TRUE(app.quit(QuitCause::user));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(model.clotheslinePlacements().deferredWriter().needsSave());
    EXPECT_EQ(launched.quitSteps(), kQuitSteps) << launched.log.join(", ").toStdString();
    EXPECT_TRUE(app.quitting());
    EXPECT_TRUE(ProcessExit::announced()) << "the decodes under way were left to hold the exit";
}

TEST(GalleryApplication, AQuitNobodyCanAnswerGivesUpOwedStateAndWaitsForADelete) {
    struct Case {
        const char* name;
        QuitCause cause;
        DeferredStateExitChoice answer;
        bool quits;
        int asked;
    };
    for (const Case& c :
         {Case{"discard and quit", QuitCause::user, DeferredStateExitChoice::discardAndQuit, true, 1},
          Case{"session end", QuitCause::sessionEnd, DeferredStateExitChoice::cancel, true, 0}}) {
        SCOPED_TRACE(c.name);
        LaunchedApp launched;
        launched.owePlacement();
        launched.placementsFail->store(true);
        int asked = 0;
        launched.model().setDeferredStateAlert([&](const Error&) {
            ++asked;
            return c.answer;
        });
        EXPECT_EQ(launched.app->quit(c.cause), c.quits);
        EXPECT_EQ(asked, c.asked);
        EXPECT_FALSE(launched.model().clotheslinePlacements().deferredWriter().needsSave()) << "given up";
        EXPECT_EQ(launched.quitSteps(), kQuitSteps);
    }

    // SIGTERM or logout while a delete runs: no alert, and the process ends once it finished.
    LaunchedApp launched;
    launched.model().setDeleting(true);
    Q_EMIT launched.app->sessionWatcher()->sessionEnding();
    EXPECT_TRUE(launched.alerts.isEmpty());
    EXPECT_TRUE(launched.app->quitPending());
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    launched.model().setDeleting(false);
    EXPECT_TRUE(waitUntil([&] { return !launched.quitSteps().isEmpty(); }));
    EXPECT_EQ(launched.quitSteps(), kQuitSteps);
}

// SIGHUP comes from a closed terminal, and right behind SIGTERM from a stopped session scope.
TEST(GalleryApplication, AHangUpEndsTheSessionAndSignalsDuringTheEndJoinIt) {
    const auto withSignals = [](GalleryApplicationParts& parts) {
        parts.unixSignals = [] { return std::make_unique<UnixSignals>(); };
    };
    {
        LaunchedApp launched(withSignals);
        launched.owePlacement();
        launched.placementsFail->store(true);
        ASSERT_EQ(raise(SIGHUP), 0);
        EXPECT_TRUE(waitUntil([&] { return !launched.quitSteps().isEmpty(); }));
        EXPECT_EQ(launched.quitSteps(), kQuitSteps) << "a hang-up asks nobody about unsaved state";
        // Mid-session again, so that the signals go back to their defaults with the application.
        ProcessExit::resetForTesting();
    }

    // SIGTERM while a delete runs, and then whatever follows: one end once the delete is over.
    LaunchedApp launched(withSignals);
    launched.model().setDeleting(true);
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGTERM})
        ASSERT_EQ(raise(number), 0);
    QTest::qWait(200);
    EXPECT_TRUE(launched.app->quitPending());
    EXPECT_TRUE(launched.alerts.isEmpty()) << "a signal during the session end asked the user";
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    launched.model().setDeleting(false);
    EXPECT_TRUE(waitUntil([&] { return !launched.quitSteps().isEmpty(); }));
    QTest::qWait(100);
    EXPECT_EQ(launched.quitSteps(), kQuitSteps) << "the end ran more than once";
    ProcessExit::resetForTesting();
}

// A quit is answered once: refused or cancelled, it is over, whatever ends later.
TEST(GalleryApplication, AQuitRefusedDuringADropOrCancelledNeverComesBack) {
    using Source = ExternalImageDrop::Source;
    LaunchedApp launched;
    GalleryApplication& app = *launched.app;
    GalleryModel& model = launched.model();
    ASSERT_TRUE(waitUntil([&] { return model.appliedScanCount() > 0; }));

    // A drop waits on a server that has taken the connection and not answered yet.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items = {{Source::remote(QUrl(QString("http://127.0.0.1:%1/a.jpg").arg(server.serverPort())))}};
    std::optional<bool> dropped;
    model.importExhibitionDrop(snapshot, 0.5, [&](bool imported) { dropped = imported; });
    ASSERT_TRUE(model.importing());
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket* request = server.nextPendingConnection();

    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(launched.alerts, QStringList{"正在保存照片"});
    EXPECT_FALSE(app.quitPending());
    QTest::qWait(300);
    EXPECT_TRUE(model.importing()) << "the refused quit stopped the drop";
    EXPECT_FALSE(dropped.has_value());
    request->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    request->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return dropped.has_value(); }));
    QTest::qWait(50);
    EXPECT_TRUE(launched.quitSteps().isEmpty()) << "the refused quit ran when the drop ended";

    // Cancelled in the unsaved-state alert: no later end of a delete or an import asks again,
    // and once the state can be written nothing quits by itself either.
    launched.owePlacement();
    launched.placementsFail->store(true);
    int asked = 0;
    model.setDeferredStateAlert([&](const Error&) {
        ++asked;
        return DeferredStateExitChoice::cancel;
    });
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(app.quitPending());
    for (bool writable : {false, true}) {
        launched.placementsFail->store(!writable);
        model.setDeleting(true);
        model.setDeleting(false);
        model.setImporting(true);
        model.setImporting(false);
        QTest::qWait(50);
    }
    EXPECT_EQ(asked, 1) << "the alert came back unasked";
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    EXPECT_EQ(launched.alerts.size(), 1);

    // The session's end during a drop stops it instead, and ends the process once it stopped.
    std::optional<bool> second;
    model.importExhibitionDrop(snapshot, 0.5, [&](bool imported) { second = imported; });
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    Q_EMIT app.sessionWatcher()->sessionEnding();
    EXPECT_TRUE(app.quitPending());
    EXPECT_TRUE(ProcessExit::announced()) << "the stopped drop's decodings were waited for";
    // The user's quit meanwhile is part of that end: no alert, nothing asked.
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_TRUE(app.quitPending());
    EXPECT_TRUE(waitUntil([&] { return !launched.quitSteps().isEmpty(); }));
    EXPECT_EQ(second, false);
    EXPECT_EQ(launched.quitSteps(), kQuitSteps);
    EXPECT_EQ(launched.alerts.size(), 1);
}

// Ctrl+C pressed again and again while a drop is saved: one alert, which goes with the drop.
TEST(GalleryApplication, AQuitAskedAgainWhileAQuitAlertIsUpOpensNoSecondOne) {
    using Source = ExternalImageDrop::Source;
    LaunchedApp launched;
    GalleryApplication& app = *launched.app;
    GalleryModel& model = launched.model();
    ASSERT_TRUE(waitUntil([&] { return model.appliedScanCount() > 0; }));
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items = {{Source::remote(QUrl(QString("http://127.0.0.1:%1/a.jpg").arg(server.serverPort())))}};
    std::optional<bool> dropped;
    model.importExhibitionDrop(snapshot, 0.5, [&](bool imported) { dropped = imported; });
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket* request = server.nextPendingConnection();

    for (int i = 0; i < 30; ++i) {
        EXPECT_FALSE(app.quit(QuitCause::user));
        QTest::qWait(5);
    }
    EXPECT_EQ(launched.alerts.join(" | ").toStdString(), "正在保存照片") << "one alert made";
    EXPECT_EQ(shownAlerts().join(" | ").toStdString(), "正在保存照片") << "one alert shown";
    EXPECT_TRUE(app.quitBlockedAlert() && app.quitBlockedAlert()->isModal());
    EXPECT_TRUE(model.importing());
    // Closed by the user, it is not up any more: the next refused quit shows it again.
    app.quitBlockedAlert()->close();
    EXPECT_FALSE(app.quitBlockedAlert()) << "a closed alert still counts as up";
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(shownAlerts().join(" | ").toStdString(), "正在保存照片")
        << "the next refused quit showed nothing";
    request->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    request->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return dropped.has_value(); }));
    EXPECT_TRUE(shownAlerts().isEmpty()) << "the alert stayed after the drop";
    QTest::qWait(50);
    EXPECT_TRUE(launched.quitSteps().isEmpty()) << "a refused quit ran when the drop ended";

    // An alert names the work it waits for: when a delete ends under a drop, the quit it refused
    // is over and its alert goes; the next quit tells of the drop.
    model.setImporting(true);
    model.setDeleting(true);
    EXPECT_FALSE(app.quit(QuitCause::user));
    model.setDeleting(false);
    EXPECT_TRUE(shownAlerts().isEmpty());
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(shownAlerts().join(" | ").toStdString(), "正在保存照片");
    model.setImporting(false);
    EXPECT_TRUE(shownAlerts().isEmpty());
    EXPECT_EQ(launched.alerts.join(" | ").toStdString(),
              "正在保存照片 | 正在保存照片 | 正在删除照片 | 正在保存照片");

    // A quit asked in the loop of the unsaved-state alert asks nothing more; SIGTERM there still
    // ends the process.
    launched.owePlacement();
    launched.placementsFail->store(true);
    int asked = 0;
    std::optional<bool> askedAgain;
    model.setDeferredStateAlert([&](const Error&) {
        if (++asked == 1)
            askedAgain = app.quit(QuitCause::user);
        return DeferredStateExitChoice::cancel;
    });
    EXPECT_FALSE(app.quit(QuitCause::user));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(askedAgain, false);
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    model.setDeferredStateAlert([&](const Error&) {
        ++asked;
        EXPECT_TRUE(app.quit(QuitCause::sessionEnd));
        return DeferredStateExitChoice::cancel;
    });
    app.quit(QuitCause::user);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(launched.quitSteps(), kQuitSteps);
    EXPECT_TRUE(app.quitting());
}

TEST(GalleryApplication, TheTrayMenuActsAndShowsTheGalleryWhereItShould) {
    LaunchedApp launched;
    GalleryApplication& app = *launched.app;
    GalleryModel& model = launched.model();
    GalleryStatusItem& item = *app.statusItem();
    launched.owePlacement();
    const Photo first = model.photos().at(0);
    model.setSelection({first});
    model.takeDownSelection();
    ASSERT_TRUE(model.canUndoRopeAction());
    const auto openMenu = [&] { Q_EMIT item.menu().aboutToShow(); };
    const auto closeGallery = [&] {
        if (app.window()->isVisible())
            app.toggleGallery();
        ASSERT_FALSE(app.window()->isVisible());
    };

    // The undo and redo items carry the model's titles and show only when there is something.
    openMenu();
    EXPECT_TRUE(item.undoAction()->isVisible());
    EXPECT_EQ(item.undoAction()->text(), model.ropeUndoTitle());
    EXPECT_FALSE(item.redoAction()->isVisible());

    // Undo, redo and the grid window each act, then open the gallery.
    closeGallery();
    item.undoAction()->trigger();
    EXPECT_FALSE(model.canUndoRopeAction());
    EXPECT_TRUE(model.canRedoRopeAction());
    EXPECT_TRUE(app.window()->isVisible());
    openMenu();
    EXPECT_FALSE(item.undoAction()->isVisible());
    EXPECT_TRUE(item.redoAction()->isVisible());
    EXPECT_EQ(item.redoAction()->text(), model.ropeRedoTitle());

    closeGallery();
    item.redoAction()->trigger();
    EXPECT_TRUE(model.canUndoRopeAction());
    EXPECT_FALSE(model.canRedoRopeAction());
    EXPECT_TRUE(app.window()->isVisible());

    closeGallery();
    ASSERT_TRUE(model.clotheslineMode());
    item.normalGalleryAction()->trigger();
    EXPECT_FALSE(model.clotheslineMode());
    EXPECT_TRUE(app.window()->isVisible());
    model.setDeleting(true);
    openMenu();
    EXPECT_FALSE(item.normalGalleryAction()->isEnabled()) << "not while deleting";
    model.setDeleting(false);
    openMenu();
    EXPECT_TRUE(item.normalGalleryAction()->isEnabled());

    // Refresh rescans everything with progress shown.
    ASSERT_TRUE(waitUntil([&] { return !model.scanning() && !model.scanInFlight(); }));
    const int scans = model.appliedScanCount();
    item.refreshAction()->trigger();
    EXPECT_TRUE(model.scanning());
    EXPECT_TRUE(waitUntil([&] { return model.appliedScanCount() > scans && !model.scanning(); }));

    // The automatic-check item shows the updater's flag and turns it over.
    Updater& updater = *app.updater();
    const bool automatic = updater.automaticallyChecksForUpdates();
    openMenu();
    EXPECT_EQ(item.automaticUpdatesAction()->isChecked(), automatic);
    item.automaticUpdatesAction()->trigger();
    EXPECT_EQ(updater.automaticallyChecksForUpdates(), !automatic);
    openMenu();
    EXPECT_EQ(item.automaticUpdatesAction()->isChecked(), !automatic);
    item.automaticUpdatesAction()->trigger();
    EXPECT_EQ(updater.automaticallyChecksForUpdates(), automatic);
}

// The grid asked for by name is where the library's photos are when none hangs; an open that
// names nothing shows the rope then, empty, ready for a drop.
TEST(GalleryApplication, TheTraysNormalWindowOpensTheGridEvenWithNothingHanging) {
    LaunchedApp launched;
    GalleryApplication& app = *launched.app;
    GalleryModel& model = launched.model();
    launched.owePlacement();
    model.setSelection(model.photos());
    model.takeDownSelection();
    for (const Photo& photo : model.photos())
        ASSERT_FALSE(model.hangs(photo));

    struct Open {
        const char* name;
        std::function<void()> act;
        bool grid;
    };
    for (const Open& open :
         {Open{"the tray's 普通窗口", [&] { app.statusItem()->normalGalleryAction()->trigger(); }, true},
          Open{"the toggle", [&] { app.toggleGallery(); }, false},
          Open{"the hot key", [&] { Q_EMIT app.shortcutController()->toggleRequested(); }, false},
          Open{"a reopen", [&] { app.show(); }, false},
          Open{"the tray's 普通窗口 again", [&] { app.statusItem()->normalGalleryAction()->trigger(); },
               true}}) {
        SCOPED_TRACE(open.name);
        // Each starts from the grid, closed.
        model.requestGalleryMode(false);
        if (app.window()->isVisible())
            app.toggleGallery();
        ASSERT_FALSE(app.window()->isVisible());
        open.act();
        EXPECT_TRUE(app.window()->isVisible());
        EXPECT_EQ(model.clotheslineMode(), !open.grid);
        EXPECT_EQ(app.window()->clotheslineStyle(), std::optional<bool>(!open.grid));
        EXPECT_EQ(model.emptyClotheslineRequested(), !open.grid);
        QApplication::processEvents();
        EXPECT_EQ(app.window()->clotheslineStyle(), std::optional<bool>(!open.grid)) << "after the pass";
    }
}

TEST(GalleryApplication, SleepWritesOwedStateAndIgnoresAFailedWrite) {
    LaunchedApp launched;
    GalleryModel& model = launched.model();
    int asked = 0;
    model.setDeferredStateAlert([&](const Error&) {
        ++asked;
        return DeferredStateExitChoice::cancel;
    });
    launched.owePlacement();
    Q_EMIT launched.app->sessionWatcher()->sleepStarting();
    EXPECT_FALSE(model.clotheslinePlacements().deferredWriter().needsSave()) << "written before the sleep";

    // A write that fails is reported as usual and stays owed; nobody is asked and nothing quits.
    ASSERT_TRUE(model.bringClotheslinePhotoToFront(recordPhoto(2)));
    ASSERT_TRUE(model.clotheslinePlacements().deferredWriter().needsSave());
    launched.placementsFail->store(true);
    Q_EMIT launched.app->sessionWatcher()->sleepStarting();
    EXPECT_TRUE(model.clotheslinePlacements().deferredWriter().needsSave());
    EXPECT_TRUE(model.placementError().value_or(QString()).startsWith(GalleryModel::kPlacementUnsavedPrefix));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(launched.quitSteps().isEmpty());
    EXPECT_FALSE(launched.app->quitting());
}
