#include "TrashFixture.h"

#include "platform/FileManager1.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QObject>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Plays the desktop's file manager on the test's private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> propertiesCalls;
    QList<QStringList> showCalls;
    QList<QUrl> opened;

public Q_SLOTS:
    void ShowItemProperties(const QStringList& uris, const QString&) { propertiesCalls.append(uris); }
    void ShowItems(const QStringList& uris, const QString&) { showCalls.append(uris); }
    void ShowFolders(const QStringList&, const QString&) {}
    // Stands in for the desktop's default handler of folders.
    void open(const QUrl& url) { opened.append(url); }
};

// A connection of its own, so the calls really cross the bus.
struct FileManagerService {
    QString name = "fake-file-manager-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    FakeFileManager manager;

    FileManagerService() {
        EXPECT_TRUE(bus.isConnected()) << "tests run under dbus-run-session";
        EXPECT_TRUE(
            bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    }
    ~FileManagerService() {
        bus.unregisterService("org.freedesktop.FileManager1");
        QDBusConnection::disconnectFromBus(name);
    }
};

} // namespace

TEST(Properties, TwoPhotosMakeOneFileManagerCallAndFailuresAreReported) {
    TrashGallery gallery({"a b.png", "c\"d.png"});
    const Photo a = gallery.photo("a b.png");
    const Photo c = gallery.photo("c\"d.png");
    {
        FileManagerService service;
        gallery->setSelection({a, c});
        gallery->showProperties();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.manager.propertiesCalls.isEmpty(); }, 10000));
        QTest::qWait(50);
        EXPECT_EQ(service.manager.propertiesCalls,
                  QList<QStringList>{FileManager1::fileUris({gallery.photo("a b.png").path, c.path})});
        EXPECT_TRUE(service.manager.propertiesCalls.first().first().endsWith("/a%20b.png"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !gallery->actionError(); }, 10000));
        EXPECT_TRUE(gallery->interactions().isUsed(a)) << "the photos were acknowledged";

        // A replaced file stops the request before the bus.
        replaceFile(c.path, "another");
        gallery->showProperties(QList<Photo>{a, c});
        ASSERT_TRUE(QTest::qWaitFor([&] { return gallery->actionError().has_value(); }, 10000));
        EXPECT_EQ(gallery->actionError(),
                  "无法打开系统属性：" + replacedOriginalError().localizedDescription());
        EXPECT_EQ(service.manager.propertiesCalls.size(), 1);

        // Reveal needs no answer to go on; with a file manager it uses it.
        FileManager1().reveal({a.path});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.manager.showCalls.isEmpty(); }, 10000));
    }
    // Without a file manager on the bus the error says so.
    gallery->setShowItemProperties([](const QStringList& paths, const QString&) {
        FileManager1::Options options;
        options.autoStart = false;
        return FileManager1(options).showItemProperties(paths);
    });
    gallery->dismissErrors();
    gallery->showProperties(QList<Photo>{a});
    ASSERT_TRUE(QTest::qWaitFor([&] { return gallery->actionError().has_value(); }, 10000));
    EXPECT_TRUE(gallery->actionError()->startsWith("无法打开系统属性：没有文件管理器响应"))
        << gallery->actionError()->toStdString();

    // Reveal falls back to opening the folder once, for both files in it.
    FakeFileManager handler;
    QDesktopServices::setUrlHandler("file", &handler, "open");
    FileManager1::Options options;
    options.autoStart = false;
    FileManager1(options).reveal({a.path, c.path});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !handler.opened.isEmpty(); }, 10000));
    EXPECT_EQ(handler.opened, QList<QUrl>{QUrl::fromLocalFile(gallery.folder)});
    QDesktopServices::unsetUrlHandler("file");

    // Nothing happens while deleting, nor without photos.
    gallery->dismissErrors();
    gallery->setDeleting(true);
    gallery->showProperties(QList<Photo>{a});
    gallery->setDeleting(false);
    gallery->endSelection();
    gallery->showProperties();
    QTest::qWait(100);
    EXPECT_FALSE(gallery->actionError());
}

#include "PropertiesTest.moc"
