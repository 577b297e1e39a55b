#include "platform/FreedesktopTrash.h"
#include "support/DurableCallLog.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

#include <cerrno>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(FreedesktopTrash, SameNamesGetTheirOwnEntriesAndComeBackWithoutReplacing) {
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    const QString first = makeFolder("one") + "/my photo.tar.gz";
    const QString second = makeFolder("two") + "/my photo.tar.gz";
    writeFile(first, "first");
    writeFile(second, "second");

    const auto a = FreedesktopTrash::moveToTrash(first);
    const auto b = FreedesktopTrash::moveToTrash(second);
    ASSERT_TRUE(a.ok() && b.ok()) << "the data location is made when it is missing";
    EXPECT_EQ(*a, trash + "/files/my photo.tar.gz");
    EXPECT_EQ(*b, trash + "/files/my photo.2.tar.gz");
    EXPECT_EQ(FreedesktopTrash::infoPath(*b), trash + "/info/my photo.2.tar.gz.trashinfo");
    const QByteArray info = readFile(FreedesktopTrash::infoPath(*b));
    EXPECT_TRUE(
        info.startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(second, "/") + "\nDeletionDate="))
        << info.toStdString();
    EXPECT_FALSE(QFile::exists(first) || QFile::exists(second));
    EXPECT_FALSE(FreedesktopTrash::moveToTrash(first).ok()) << "nothing left to move";

    writeFile(first, "newcomer");
    const Status refused = FreedesktopTrash::restore(*a, first);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().isFileExists());
    EXPECT_EQ(readFile(first), "newcomer");
    EXPECT_TRUE(QFile::exists(FreedesktopTrash::infoPath(*a))) << "still offered by the desktop";

    ASSERT_TRUE(FreedesktopTrash::restore(*b, second).ok());
    EXPECT_EQ(readFile(second), "second");
    EXPECT_FALSE(QFile::exists(*b) || QFile::exists(FreedesktopTrash::infoPath(*b)));
}

TEST(FreedesktopTrash, AVolumeTrashIsUsedOnlyWhenItIsTheUsersAlone) {
    const QString uid = QString::number(::getuid());
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    const auto chmodTo = [](const QString& path, mode_t bits) {
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), bits), 0);
    };

    // Nothing there: the user's own folder, made private.
    const QString plain = makeFolder("volume-plain");
    EXPECT_EQ(FreedesktopTrash::volumeTrash(plain).valueOr({}), plain + "/.Trash-" + uid);
    EXPECT_EQ(mode(plain + "/.Trash-" + uid), 0700);

    // A shared sticky folder holds one folder per user.
    const QString shared = makeFolder("volume-shared");
    makeFolder("volume-shared/.Trash");
    chmodTo(shared + "/.Trash", 01777);
    EXPECT_EQ(FreedesktopTrash::volumeTrash(shared).valueOr({}), shared + "/.Trash/" + uid);
    EXPECT_EQ(mode(shared + "/.Trash/" + uid), 0700);

    // A shared folder without the sticky bit, or a link to one, is passed over.
    const QString loose = makeFolder("volume-loose");
    makeFolder("volume-loose/.Trash");
    chmodTo(loose + "/.Trash", 0777);
    EXPECT_EQ(FreedesktopTrash::volumeTrash(loose).valueOr({}), loose + "/.Trash-" + uid);
    const QString linked = makeFolder("volume-linked");
    ASSERT_TRUE(QFile::link(shared + "/.Trash", linked + "/.Trash"));
    EXPECT_EQ(FreedesktopTrash::volumeTrash(linked).valueOr({}), linked + "/.Trash-" + uid);

    // The user's own folder planted as a link, given to someone else or opened to others: refused.
    const QString elsewhere = makeFolder("planted-target");
    const QString planted = makeFolder("volume-planted");
    ASSERT_TRUE(QFile::link(elsewhere, planted + "/.Trash-" + uid));
    const QString foreign = makeFolder("volume-foreign");
    makeFolder("volume-foreign/.Trash-" + uid);
    chmodTo(foreign + "/.Trash-" + uid, 0700);
    const bool canGiveAway =
        ::chown(QFile::encodeName(foreign + "/.Trash-" + uid).constData(), ::getuid() + 1, ::getgid()) == 0;
    const QString open = makeFolder("volume-open");
    makeFolder("volume-open/.Trash-" + uid);
    chmodTo(open + "/.Trash-" + uid, 0755);
    QStringList refused{planted, open};
    if (canGiveAway)
        refused << foreign;
    for (const QString& top : refused) {
        const Result<QString> trash = FreedesktopTrash::volumeTrash(top);
        ASSERT_FALSE(trash.ok()) << top.toStdString();
        EXPECT_EQ(trash.error().message, "这个磁盘的废纸篓不能使用。");
        EXPECT_TRUE(trash.error().failureReason.contains(top + "/.Trash-" + uid));
    }
    EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "nothing made through the link";

    // The same checks on a Trash folder as it stands, which they never make.
    using Kind = FreedesktopTrash::VolumeTrashKind;
    EXPECT_TRUE(FreedesktopTrash::checkVolumeTrash(plain, Kind::own).ok());
    EXPECT_TRUE(FreedesktopTrash::checkVolumeTrash(shared, Kind::shared).ok());
    EXPECT_FALSE(FreedesktopTrash::checkVolumeTrash(plain, Kind::shared).ok()) << "no shared folder there";
    EXPECT_FALSE(FreedesktopTrash::checkVolumeTrash(loose, Kind::shared).ok()) << "not sticky";
    const QString empty = makeFolder("volume-empty");
    const Status missing = FreedesktopTrash::checkVolumeTrash(empty, Kind::own);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "这个磁盘的废纸篓不能使用。");
    EXPECT_TRUE(QDir(empty).isEmpty());
    for (const QString& top : refused)
        EXPECT_FALSE(FreedesktopTrash::checkVolumeTrash(top, Kind::own).ok()) << top.toStdString();
    EXPECT_TRUE(FreedesktopTrash::isVolumeTop("/"));
    EXPECT_FALSE(FreedesktopTrash::isVolumeTop(plain)) << "a folder inside the test's file system";
    EXPECT_FALSE(FreedesktopTrash::isVolumeTop(plain + "/missing"));
}

TEST(FreedesktopTrash, NamesTooLongForTheirDescriptionAreShortenedKeepingTheExtension) {
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    const QString name = QString(82, QChar(0x5B57)) + ".png"; // 250 bytes: fits, its ".trashinfo" does not
    ASSERT_EQ(QFile::encodeName(name).size(), 250);
    const QString first = makeFolder("long-one") + "/" + name;
    const QString second = makeFolder("long-two") + "/" + name;
    writeFile(first, "first");
    writeFile(second, "second");
    const auto a = FreedesktopTrash::moveToTrash(first);
    const auto b = FreedesktopTrash::moveToTrash(second);
    ASSERT_TRUE(a.ok()) << a.error().message.toStdString();
    ASSERT_TRUE(b.ok()) << b.error().message.toStdString();
    for (const QString& trashed : {*a, *b}) {
        const QString stored = QFileInfo(trashed).fileName();
        EXPECT_TRUE(stored.endsWith(".png")) << stored.toStdString();
        EXPECT_LE(QFile::encodeName(stored + ".trashinfo").size(), 255);
        EXPECT_TRUE(QFile::exists(FreedesktopTrash::infoPath(trashed)));
    }
    EXPECT_NE(*a, *b);
    EXPECT_TRUE(QFileInfo(*b).fileName().endsWith(".2.png"));
    EXPECT_TRUE(readFile(FreedesktopTrash::infoPath(*b)).contains(QUrl::toPercentEncoding(second, "/")));
    ASSERT_TRUE(FreedesktopTrash::restore(*a, first).ok());
    EXPECT_EQ(readFile(first), "first");
}

TEST(FreedesktopTrash, TheDescriptionIsOnTheDiskBeforeTheFileMoves) {
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    const QString kept = makeFolder("synced") + "/kept.png";
    const QString trashed = makeFolder("synced") + "/trashed.png";
    writeFile(kept, "kept");
    writeFile(trashed, "trashed");
    {
        DurableCallLog log("file fsync");
        const Result<QString> refused = FreedesktopTrash::moveToTrash(kept);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().sysErrno, EIO);
        EXPECT_EQ(log.joined(), "file fsync") << "no move after a description that is not on the disk";
    }
    EXPECT_EQ(readFile(kept), "kept");
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    EXPECT_TRUE(QDir(trash + "/info").isEmpty() && QDir(trash + "/files").isEmpty());

    DurableCallLog log;
    const Result<QString> moved = FreedesktopTrash::moveToTrash(trashed);
    ASSERT_TRUE(moved.ok()) << moved.error().message.toStdString();
    EXPECT_EQ(log.joined(), "file fsync, folder fsync, rename no-replace");
}

// The description of a file in a volume's own Trash names it from the volume's top folder, so the
// volume can be mounted elsewhere and its Trash still restores. The volume is a tmpfs in this
// process's own mount namespace, inside the test's folder.
TEST(FreedesktopTrash, AVolumeTrashDescribesItsFilesFromTheVolumeTop) {
    const QString volume = makeFolder("volume-tmpfs");
    const QByteArray at = QFile::encodeName(volume);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", at.constData(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "no file system of its own to mount";
    const struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount{at};
    const QString photo = volume + "/相册/晚霞 1.png";
    writeFile(photo, "evening");

    const Result<QString> trashed = FreedesktopTrash::moveToTrash(photo);
    ASSERT_TRUE(trashed.ok()) << trashed.error().message.toStdString();
    EXPECT_EQ(*trashed, volume + "/.Trash-" + QString::number(::getuid()) + "/files/晚霞 1.png");
    const QByteArray info = readFile(FreedesktopTrash::infoPath(*trashed));
    EXPECT_TRUE(
        info.startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding("相册/晚霞 1.png", "/") + "\n"))
        << info.toStdString();
    ASSERT_TRUE(FreedesktopTrash::restore(*trashed, photo).ok());
    EXPECT_EQ(readFile(photo), "evening");
}
