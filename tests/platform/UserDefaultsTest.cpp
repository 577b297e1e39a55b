#include "platform/UserDefaults.h"
#include "support/ReadOnlyFolder.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSignalSpy>
#include <QtNumeric>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vennimo {
namespace {

using test::readFile;
using test::writeFile;

QString defaultsPath(const QString& folder = QStringLiteral("config")) {
    return test::makeFolder(folder) + QStringLiteral("/VennimoGallery/defaults.json");
}

// Every typed reader at once, so that one comparison shows which key fell back.
QString summary(const UserDefaults& d) {
    const auto position = d.clotheslineWindowPosition();
    const QString at =
        position ? QStringLiteral("%1,%2,%3").arg(position->x).arg(position->ropeY).arg(position->width)
                 : "-";
    return QStringLiteral("shortcut %1/%2 flags %3%4%5%6 opener %7 position %8")
        .arg(QString::number(d.galleryQuickOpenShortcut().keyCode),
             QString::number(d.galleryQuickOpenShortcut().modifiers), QString::number(d.galleryAlwaysOnTop()),
             QString::number(d.clotheslineOffCenterPeg()), QString::number(d.clotheslineStrictVertical()),
             QString::number(d.clotheslineLayerRendering()), d.spaceKeyOpener().value_or("-"), at);
}
const QString kDefaults = QStringLiteral("shortcut 35/6144 flags 1011 opener - position -");

TEST(UserDefaults, DefaultsForAbsentAndIllTypedValuesAndTypedValuesInTheFile) {
    const QString path = defaultsPath();
    EXPECT_EQ(summary(UserDefaults(path)), kDefaults);
    EXPECT_FALSE(QFile::exists(path)) << "reading stores nothing";
    EXPECT_TRUE(UserDefaults::standard().filePath().startsWith(test::TestEnvironment::root()))
        << "tests never see the real settings";

    writeFile(path, R"({"GalleryAlwaysOnTop": "false", "ClotheslineOffCenterPeg": 1,
        "ClotheslineStrictVertical": "no", "ClotheslineLayerRendering": 0, "spaceKeyOpener": 5,
        "ClotheslineWindowPosition": [1, 2, 3], "galleryQuickOpenShortcut": {"keyCode": 0, "modifiers": 4352}})");
    EXPECT_EQ(summary(UserDefaults(path)), kDefaults) << "ill-typed values read as absent";
    writeFile(path,
              R"({"galleryQuickOpenShortcut": {"@data": "no base64"}, "ClotheslineLayerRendering": false})");
    EXPECT_EQ(summary(UserDefaults(path)), QString(kDefaults).replace("1011", "1010"));

    QFile::remove(path);
    {
        UserDefaults defaults(path);
        defaults.setGalleryAlwaysOnTop(false);
        defaults.setClotheslineOffCenterPeg(true);
        defaults.setString(QLatin1String(UserDefaults::kSpaceKeyOpenerKey), QStringLiteral("/usr/bin/gimp"));
        defaults.setGalleryQuickOpenShortcut(GalleryShortcut{0, 0x1100});
        defaults.setClotheslineWindowPosition({-120.5, 840, 1024});
    }
    const QJsonObject stored = QJsonDocument::fromJson(readFile(path)).object();
    EXPECT_TRUE(stored[u"GalleryAlwaysOnTop"].isBool());
    EXPECT_EQ(stored[u"ClotheslineWindowPosition"],
              (QJsonObject{{"x", -120.5}, {"ropeY", 840}, {"width", 1024}}));
    EXPECT_EQ(QByteArray::fromBase64(stored[u"galleryQuickOpenShortcut"][u"@data"].toString().toLatin1()),
              QByteArray(R"({"keyCode":0,"modifiers":4352})"))
        << "the shortcut is stored as the bytes of its JSON";
    EXPECT_EQ(summary(UserDefaults(path)),
              "shortcut 0/4352 flags 0111 opener /usr/bin/gimp position -120.5,840,1024");
}

TEST(UserDefaults, InvalidValuesAreIgnoredAndLeftStoredAndChangesAreAnnounced) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    for (const QByteArray& data : {toJson(GalleryShortcut{35, 0x800}), toJson(GalleryShortcut{122, 0x1000}),
                                   QByteArray("{\"keyCode\":35}"), QByteArray("junk")}) {
        defaults.setData(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey), data);
        EXPECT_EQ(defaults.galleryQuickOpenShortcut(), GalleryShortcut{}) << data.toStdString();
        EXPECT_EQ(UserDefaults(path).dataValue(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey)),
                  data);
    }

    const auto store = [&](QVariantMap map) {
        defaults.setDictionary(QLatin1String(UserDefaults::kClotheslineWindowPositionKey), map);
        return defaults.clotheslineWindowPosition();
    };
    EXPECT_EQ(store({{"x", 10}, {"ropeY", 20}, {"width", 760}}), (ClotheslineWindowPosition{10, 20, 760}));
    // Narrower than 760, incomplete, a string or a Bool for a number, not finite.
    for (QVariant y : {QVariant(), QVariant("20"), QVariant(true)})
        EXPECT_EQ(store({{"x", 10}, {"ropeY", y}, {"width", 900}}), std::nullopt)
            << y.toString().toStdString();
    EXPECT_EQ(store({{"x", 10}, {"ropeY", 20}, {"width", 759.5}}), std::nullopt);
    EXPECT_EQ(store({{"x", qInf()}, {"ropeY", 20}, {"width", 900}}), std::nullopt);
    writeFile(path, R"({"ClotheslineWindowPosition": {"x": 1e999, "ropeY": 2, "width": 800}})");
    EXPECT_EQ(UserDefaults(path).clotheslineWindowPosition(), std::nullopt) << "an overflowing number";

    // Changes are announced, and other readers see them: values are read on demand.
    UserDefaults other(path);
    QSignalSpy spy(&defaults, &UserDefaults::changed);
    defaults.setGalleryAlwaysOnTop(false);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0), QStringLiteral("GalleryAlwaysOnTop"));
    EXPECT_FALSE(other.galleryAlwaysOnTop()) << "read from the file on demand";

    defaults.setGalleryAlwaysOnTop(false);
    EXPECT_EQ(spy.count(), 1) << "writing the same value changes nothing";
    defaults.remove(QLatin1String(UserDefaults::kGalleryAlwaysOnTopKey));
    defaults.remove(QLatin1String(UserDefaults::kGalleryAlwaysOnTopKey));
    EXPECT_EQ(spy.count(), 2) << "removing an absent key changes nothing";
}

TEST(UserDefaults, UnreadableFileIsKeptAsideAndNeverWrittenOver) {
    const QString path = defaultsPath();
    const QByteArray broken = "{\"GalleryAlwaysOnTop\": fal";
    writeFile(path, broken);
    writeFile(path + QStringLiteral(".corrupt"), "an older broken file");
    {
        UserDefaults defaults(path);
        ASSERT_FALSE(defaults.loadStatus().ok());
        EXPECT_TRUE(defaults.loadStatus().error().message.contains(QStringLiteral(".corrupt-1")));
        defaults.setGalleryAlwaysOnTop(false);
    }
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt-1")), broken) << "kept byte for byte";
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt")), QByteArray("an older broken file"));
    EXPECT_FALSE(UserDefaults(path).galleryAlwaysOnTop()) << "new settings go to a fresh file";

    const QString other = defaultsPath(QStringLiteral("other"));
    writeFile(other, "{\"x\": \"" + QByteArray(UserDefaults::kMaxFileBytes, 'a') + "\"}");
    EXPECT_FALSE(UserDefaults(other).loadStatus().ok()) << "oversized";

    // Spoilt while in use, by hand or by another program: left alone, defaults apply.
    UserDefaults live(other);
    live.setClotheslineOffCenterPeg(true);
    const QByteArray junk = "{ this is not JSON, nor the settings it once held }";
    writeFile(other, junk);
    EXPECT_FALSE(live.clotheslineOffCenterPeg());
    live.setGalleryAlwaysOnTop(false);
    EXPECT_EQ(readFile(other), junk) << "an unreadable file is never written over";
    writeFile(other, R"({"ClotheslineOffCenterPeg": true})");
    live.setGalleryAlwaysOnTop(false);
    EXPECT_EQ(summary(UserDefaults(other)), QString(kDefaults).replace("1011", "0111"))
        << "readable again, and written again";
}

TEST(UserDefaults, WritesCompactJsonNeverLargerThanItReadsAndNeverOpensAFifo) {
    const QString path = defaultsPath();
    {
        UserDefaults defaults(path);
        defaults.setGalleryAlwaysOnTop(false);
        EXPECT_TRUE(defaults.writeStatus().ok());
    }
    EXPECT_EQ(readFile(path), QByteArray(R"({"GalleryAlwaysOnTop":false})")) << "compact";

    // Just under the limit: a change that would carry the file past it is refused and reported,
    // and the file the next start reads stays as it was.
    const QByteArray nearlyFull = R"({"filler":")" + QByteArray(UserDefaults::kMaxFileBytes - 200, 'a') +
                                  R"(","GalleryAlwaysOnTop":false})";
    writeFile(path, nearlyFull);
    {
        UserDefaults defaults(path);
        ASSERT_TRUE(defaults.loadStatus().ok());
        defaults.setString(QStringLiteral("spaceKeyOpener"), QString(300, QLatin1Char('/')));
        EXPECT_FALSE(defaults.writeStatus().ok());
        EXPECT_FALSE(defaults.spaceKeyOpener()) << "not taken either";
        defaults.setClotheslineOffCenterPeg(true);
        EXPECT_TRUE(defaults.writeStatus().ok()) << "a change that fits still goes through";
    }
    EXPECT_TRUE(UserDefaults(path).loadStatus().ok());
    EXPECT_TRUE(UserDefaults(path).clotheslineOffCenterPeg());
    EXPECT_FALSE(UserDefaults(path).galleryAlwaysOnTop());

    // A FIFO in the file's place: set aside at once. The writer below only stops a blocked
    // constructor from hanging the test, it never provides settings.
    const QString fifoPath = defaultsPath(QStringLiteral("fifo"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(fifoPath).path()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoPath).constData(), 0600), 0);
    std::atomic<bool> done = false;
    std::thread unblock([&] {
        while (!done) {
            const int fd = ::open(QFile::encodeName(fifoPath).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    {
        UserDefaults defaults(fifoPath);
        done = true;
        EXPECT_FALSE(defaults.loadStatus().ok()) << "reported";
        defaults.setGalleryAlwaysOnTop(false);
        EXPECT_FALSE(defaults.galleryAlwaysOnTop()) << "and a fresh file takes the settings";
    }
    done = true;
    unblock.join();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(fifoPath + QStringLiteral(".corrupt")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "kept aside, not removed";
}

TEST(UserDefaults, ALockThatNeverComesRefusesTheWriteInsteadOfWaitingForever) {
    const QString path = defaultsPath();
    writeFile(path, R"({"GalleryAlwaysOnTop":false})");
    UserDefaults defaults(path);
    const QString lockPath = path + QStringLiteral(".lock");

    // A folder under the lock's name can never be taken or cleared away.
    ASSERT_TRUE(QDir().mkpath(lockPath));
    defaults.setClotheslineOffCenterPeg(true);
    ASSERT_FALSE(defaults.writeStatus().ok());
    EXPECT_EQ(defaults.writeStatus().error().code, 3);
    EXPECT_TRUE(defaults.writeStatus().error().message.contains(lockPath));
    EXPECT_EQ(readFile(path), QByteArray(R"({"GalleryAlwaysOnTop":false})"));
    ASSERT_TRUE(QDir(lockPath).removeRecursively());

    // A lock a live process keeps: refused after the bounded wait, not hung on.
    {
        QLockFile held(lockPath);
        ASSERT_TRUE(held.tryLock(0));
        defaults.setClotheslineOffCenterPeg(true);
        EXPECT_FALSE(defaults.writeStatus().ok());
        EXPECT_FALSE(UserDefaults(path).clotheslineOffCenterPeg());
    }
    // A lock left behind by a process that is gone is stale and taken over.
    writeFile(lockPath, "999999999\nvennimo\n\n");
    defaults.setClotheslineOffCenterPeg(true);
    EXPECT_TRUE(defaults.writeStatus().ok());
    EXPECT_TRUE(UserDefaults(path).clotheslineOffCenterPeg());
    EXPECT_FALSE(QFileInfo::exists(lockPath));
}

} // namespace
} // namespace vennimo

namespace vennimo {
namespace {

TEST(UserDefaults, AWriteTheFolderRefusesIsReportedUnseenAndUnannounced) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    ASSERT_TRUE(defaults.setClotheslineOffCenterPeg(true));
    ASSERT_TRUE(defaults.writeStatus().ok());
    const QByteArray stored = readFile(path);

    QSignalSpy spy(&defaults, &UserDefaults::changed);
    test::ReadOnlyFolder folder(QFileInfo(path).path());
    if (!folder.locked())
        GTEST_SKIP() << "this file system lets every write through";
    EXPECT_FALSE(defaults.setClotheslineOffCenterPeg(false));
    EXPECT_FALSE(defaults.writeStatus().ok());
    EXPECT_TRUE(defaults.writeStatus().error().message.contains(QStringLiteral("无法写入")))
        << qPrintable(defaults.writeStatus().error().message);
    EXPECT_TRUE(defaults.clotheslineOffCenterPeg()) << "this process reads what the file holds";
    EXPECT_FALSE(defaults.setBool(QStringLiteral("fresh"), true));
    EXPECT_FALSE(defaults.contains(QStringLiteral("fresh"))) << "a refused new key is not seen either";
    EXPECT_TRUE(defaults.setClotheslineOffCenterPeg(true)) << "the stored value needs no write";
    EXPECT_EQ(spy.count(), 0) << "nothing changed";
    EXPECT_EQ(readFile(path), stored);

    folder.release();
    EXPECT_TRUE(defaults.setClotheslineOffCenterPeg(false)) << "writable again";
    EXPECT_TRUE(defaults.writeStatus().ok());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(UserDefaults(path).clotheslineOffCenterPeg());
    EXPECT_FALSE(UserDefaults(path).contains(QStringLiteral("fresh"))) << "the refused key never lands";
}

} // namespace
} // namespace vennimo
