#include "DropTestHelpers.h"

#include "dragdrop/PegFolderDelivery.h"
#include "support/ScratchVolume.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QByteArray uriOf(const QString& path) {
    return QUrl::fromLocalFile(path).toEncoded();
}

void setMode(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

// A delivery of one photo that notes what it was asked to do.
struct NotingDelivery {
    QStringList movedTo;
    int trashAsked = 0;
    PegFolderDelivery delivery;

    explicit NotingDelivery(const QString& storage)
        : delivery({Photo{}}, storage, [this](const QList<Photo>&, const QString& folder, int) {
            movedTo.append(folder);
            return std::optional<QStringList>(QStringList{"a.jpg"});
        }) {
        delivery.setTrasher([this](const QList<Photo>&) { ++trashAsked; });
    }
    NotingDelivery(const NotingDelivery&) = delete;
    NotingDelivery& operator=(const NotingDelivery&) = delete;
};

} // namespace

TEST(PegFolderDelivery, TakesOnlyAPlainLocalFolderOutsideTheStorageFolder) {
    const QString storage = makeFolder("delivery-storage");
    const QString inside = storage + "/imported-images";
    QDir().mkpath(inside);
    const QString folder = makeFolder("delivery-target");
    QDir().mkpath(folder + "/sub");
    QFile::link(storage, folder + "/storage-link");
    const QByteArray good = QUrl::fromLocalFile(folder).toEncoded();

    EXPECT_EQ(PegFolderDelivery::destinationFolder(good, storage).value_or(""), QDir(folder).canonicalPath());
    EXPECT_TRUE(PegFolderDelivery::destinationFolder(good + '\0', storage)) << "a trailing NUL is allowed";
    EXPECT_TRUE(PegFolderDelivery::destinationFolder(
        "file://localhost" + QUrl::toPercentEncoding(folder, "/"), storage));

    const QList<std::pair<QByteArray, const char*>> hostile{
        {"", "empty"},
        {"folder", "relative"},
        {"file:relative/path", "relative file URI"},
        {"file://elsewhere" + QUrl::toPercentEncoding(folder, "/"), "another host"},
        {good + "/sub/..", "dot-dot segment"},
        {good + "/%2E%2E/x", "encoded dot-dot"},
        {good + "/missing", "missing folder"},
        {QUrl::fromLocalFile(folder + "/sub").toEncoded() + "?q=1", "query"},
        {"http://127.0.0.1" + QUrl::toPercentEncoding(folder, "/"), "not a file URI"},
        {"file://" + QByteArray(4100, 'a'), "over 4 KiB"},
        {good + QByteArray("\0/x", 3), "NUL inside"},
        {QUrl::fromLocalFile(storage).toEncoded(), "the storage folder"},
        {QUrl::fromLocalFile(inside).toEncoded(), "inside the storage folder"},
        {QUrl::fromLocalFile(folder + "/storage-link").toEncoded(), "a link into the storage folder"},
        {QUrl::fromLocalFile(folder + "/../delivery-target").toEncoded(), "a path through .."},
    };
    for (const auto& [uri, why] : hostile)
        EXPECT_FALSE(PegFolderDelivery::destinationFolder(uri, storage)) << why;
}

TEST(PegFolderDelivery, MovesOncePerDropAnswersEForAnythingRefusedAndNothingAfterACancel) {
    const QString storage = makeFolder("delivery-storage-2");
    const QString folder = makeFolder("delivery-target-2");
    const QString other = makeFolder("delivery-other-2");
    const QList<Photo> photos{Photo{}, Photo{}};
    int moves = 0;
    bool refuse = false;
    PegFolderDelivery delivery(photos, storage, [&](const QList<Photo>& asked, const QString&, int) {
        EXPECT_EQ(asked.size(), 2);
        ++moves;
        return refuse ? std::nullopt : std::optional<QStringList>(QStringList{"a.jpg", "b.jpg"});
    });

    EXPECT_EQ(delivery.answer("file:///etc/../tmp"), "E");
    EXPECT_FALSE(delivery.lastError().isEmpty()) << "the user learns why, the target shows nothing";
    EXPECT_EQ(moves, 0) << "a refused folder moves nothing";

    refuse = true;
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(folder).toEncoded()), "E");
    EXPECT_EQ(moves, 1);
    refuse = false;
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(folder).toEncoded()), "S")
        << "a failed move is tried again";
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(folder).toEncoded()), "S");
    EXPECT_EQ(moves, 2) << "the second item of the drop is answered from the first move";
    EXPECT_EQ(
        delivery
            .deliver(*PegFolderDelivery::openDestination(QUrl::fromLocalFile(folder).toEncoded(), storage))
            .value_or(QStringList{}),
        (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(other).toEncoded()), "E") << "never moved twice";
    EXPECT_EQ(moves, 2);

    PegFolderDelivery cancelled(photos, storage, [&](const QList<Photo>&, const QString&, int) {
        ++moves;
        return std::optional<QStringList>(QStringList{"a.jpg", "b.jpg"});
    });
    cancelled.setCancelled(true);
    EXPECT_EQ(cancelled.answer(QUrl::fromLocalFile(folder).toEncoded()), "E");
    EXPECT_EQ(moves, 2);
}

TEST(PegFolderDelivery, ADropOnTheTrashAsksOnceToTrashThePhotosAndMovesNothingIn) {
    const QString storage = makeFolder("delivery-storage-trash");
    const QString homeTrashFiles =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    ASSERT_TRUE(QDir().mkpath(homeTrashFiles));
    // Named like a volume's Trash, but not at the top of one: any folder.
    const QString namedLikeATrash =
        makeFolder("volume") + "/.Trash-" + QString::number(::getuid()) + "/files";
    ASSERT_TRUE(QDir().mkpath(namedLikeATrash));
    const QString plain = makeFolder("delivery-plain-trash");
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination("trash:///"));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination("trash:///p0.png"));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(homeTrashFiles).toEncoded()));
    EXPECT_TRUE(
        PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(homeTrashFiles).toEncoded() + '\0'));
    EXPECT_FALSE(PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(namedLikeATrash).toEncoded()));
    EXPECT_FALSE(PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(plain).toEncoded()));
    EXPECT_FALSE(PegFolderDelivery::isTrashDestination("file:///Trash-notes"));

    const QList<Photo> photos{Photo{}, Photo{}};
    int moves = 0;
    QList<QList<Photo>> trashed;
    PegFolderDelivery delivery(photos, storage, [&](const QList<Photo>&, const QString&, int) {
        ++moves;
        return std::optional<QStringList>(QStringList{"a.jpg", "b.jpg"});
    });
    delivery.setTrasher([&](const QList<Photo>& asked) { trashed.append(asked); });
    // Each item of the drop asks; the photos are put up for the Trash once, never moved in.
    EXPECT_EQ(delivery.answer("trash:///"), "E");
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(homeTrashFiles).toEncoded()), "E");
    EXPECT_EQ(trashed.size(), 1);
    EXPECT_EQ(trashed.value(0).size(), 2);
    EXPECT_EQ(moves, 0);
    EXPECT_TRUE(delivery.lastError().isEmpty()) << "the confirmation speaks for itself";
    EXPECT_TRUE(QDir(homeTrashFiles).isEmpty());

    PegFolderDelivery cancelled(photos, storage, [&](const QList<Photo>&, const QString&, int) {
        ++moves;
        return std::optional<QStringList>(QStringList{"a.jpg", "b.jpg"});
    });
    cancelled.setTrasher([&](const QList<Photo>& asked) { trashed.append(asked); });
    cancelled.setCancelled(true);
    EXPECT_EQ(cancelled.answer("trash:///"), "E");
    EXPECT_EQ(trashed.size(), 1) << "a cancelled drag trashes nothing";
}

TEST(PegFolderDelivery, NamesOfATrashBelowAVolumesTopAreFoldersAndLinksSoNamedAreRefused) {
    const QString uid = QString::number(::getuid());
    const QString storage = makeFolder("delivery-storage-named");
    // The user's own folders merely named so: ordinary moves.
    const QString documents = makeFolder("Documents");
    const QStringList ordinary{documents + "/.Trash-" + uid + "/files", documents + "/.Trash/" + uid};
    for (const QString& folder : ordinary) {
        ASSERT_TRUE(QDir().mkpath(folder));
        NotingDelivery noting(storage);
        EXPECT_EQ(noting.delivery.answer(uriOf(folder)), "S") << folder.toStdString();
        EXPECT_EQ(noting.movedTo, QStringList{QDir(folder).canonicalPath()});
        EXPECT_EQ(noting.trashAsked, 0);
    }

    // Links with a Trash's name, as someone could plant them towards a folder anyone may write to.
    const QString planted = makeFolder("planted-open");
    ASSERT_TRUE(QDir().mkpath(planted + "/files") && QDir().mkpath(planted + "/" + uid + "/files"));
    setMode(planted, 0777);
    const QString linkedOwn = makeFolder("planted-own") + "/.Trash-" + uid;
    ASSERT_TRUE(QFile::link(planted, linkedOwn));
    const QString linkedShared = makeFolder("planted-shared") + "/.Trash";
    ASSERT_TRUE(QFile::link(planted, linkedShared));
    const QString linkedUser = makeFolder("planted-user") + "/.Trash/" + uid;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(linkedUser).absolutePath()));
    ASSERT_TRUE(QFile::link(planted + "/" + uid, linkedUser));
    for (const QString& folder : {linkedOwn, linkedOwn + "/files", linkedShared + "/" + uid + "/files",
                                  linkedUser, linkedUser + "/files"}) {
        NotingDelivery noting(storage);
        EXPECT_EQ(noting.delivery.answer(uriOf(folder)), "E") << folder.toStdString();
        EXPECT_EQ(noting.delivery.lastError(), "不能移动到这个位置。");
        EXPECT_TRUE(noting.movedTo.isEmpty()) << folder.toStdString();
        EXPECT_EQ(noting.trashAsked, 0);
        EXPECT_FALSE(PegFolderDelivery::isTrashDestination(uriOf(folder)));
    }

    // The home Trash stays the home Trash when a link of another name leads there.
    const QString homeTrashFiles =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    ASSERT_TRUE(QDir().mkpath(homeTrashFiles));
    const QString shortcut = makeFolder("desk") + "/bin";
    ASSERT_TRUE(QFile::link(homeTrashFiles, shortcut));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(uriOf(shortcut)));
}

// The top of a volume is a tmpfs of the test's own, mounted in its own mount namespace.
TEST(PegFolderDelivery, AVolumesTrashAtItsTopIsATrashOnlyWhileItPassesTheDeletesChecks) {
    const ScratchVolume volume(makeFolder("delivery-volume"));
    if (!volume.mounted())
        GTEST_SKIP() << "no file system of its own to mount";
    const QString uid = QString::number(::getuid());
    const QString storage = makeFolder("delivery-storage-volume");
    const QString top = volume.top();
    const QString own = top + "/.Trash-" + uid;
    ASSERT_TRUE(QDir().mkpath(own + "/files"));
    setMode(own, 0700);
    const auto refusedAsUnusable = [&](const QString& folder, const char* why) {
        NotingDelivery noting(storage);
        EXPECT_EQ(noting.delivery.answer(uriOf(folder)), "E") << why;
        EXPECT_EQ(noting.delivery.lastError(), "这个磁盘的废纸篓不能使用。") << why;
        EXPECT_TRUE(noting.movedTo.isEmpty()) << why;
        EXPECT_EQ(noting.trashAsked, 0) << why;
    };

    for (const QString& folder : {own, own + "/files"}) {
        NotingDelivery noting(storage);
        EXPECT_EQ(noting.delivery.answer(uriOf(folder)), "E");
        EXPECT_EQ(noting.trashAsked, 1) << folder.toStdString();
        EXPECT_TRUE(noting.movedTo.isEmpty());
        EXPECT_TRUE(noting.delivery.lastError().isEmpty()) << "the confirmation speaks for itself";
    }
    const QString shortcut = makeFolder("volume-shortcut") + "/bin";
    ASSERT_TRUE(QFile::link(own + "/files", shortcut));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(uriOf(shortcut)))
        << "reached by a link of another name";
    const QString album = top + "/album/.Trash-" + uid + "/files";
    ASSERT_TRUE(QDir().mkpath(album));
    EXPECT_FALSE(PegFolderDelivery::isTrashDestination(uriOf(album))) << "below the top: any folder";

    setMode(own, 0755);
    refusedAsUnusable(own + "/files", "open to others");
    setMode(own, 0700);

    // Someone else's folder anyone may write to, planted under the user's Trash name.
    ASSERT_TRUE(QDir().rename(own, top + "/kept"));
    ASSERT_TRUE(QDir().mkpath(top + "/open/files"));
    setMode(top + "/open", 0777);
    ASSERT_TRUE(QFile::link(top + "/open", own));
    refusedAsUnusable(own + "/files", "a planted link");
    EXPECT_TRUE(QDir(top + "/open/files").isEmpty());

    // The shared form: a sticky ".Trash" holding the user's own folder.
    const QString shared = top + "/.Trash/" + uid;
    ASSERT_TRUE(QDir().mkpath(shared + "/files"));
    setMode(top + "/.Trash", 01777);
    setMode(shared, 0700);
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(uriOf(shared + "/files")));
    setMode(top + "/.Trash", 0777);
    refusedAsUnusable(shared + "/files", "a shared Trash without the sticky bit");
}

TEST(PegFolderDelivery, ADropHasOneOutcomeWhicheverOfTheTrashAndAFolderCameFirst) {
    const QString storage = makeFolder("delivery-storage-outcome");
    const QString folder = makeFolder("delivery-outcome");

    // The Trash first: a folder asked by another item of the drop moves nothing away from under
    // the confirmation, and says nothing of its own.
    NotingDelivery trashFirst(storage);
    EXPECT_EQ(trashFirst.delivery.answer("trash:///"), "E");
    EXPECT_EQ(trashFirst.delivery.answer(uriOf(folder)), "E");
    EXPECT_TRUE(trashFirst.movedTo.isEmpty());
    EXPECT_TRUE(trashFirst.delivery.lastError().isEmpty());
    const QString linked = makeFolder("delivery-outcome-link") + "/.Trash-" + QString::number(::getuid());
    ASSERT_TRUE(QFile::link(folder, linked));
    EXPECT_EQ(trashFirst.delivery.answer(uriOf(linked)), "E");
    EXPECT_TRUE(trashFirst.delivery.lastError().isEmpty()) << "nor does a refused place";
    EXPECT_FALSE(trashFirst.delivery.deliver(*PegFolderDelivery::openDestination(uriOf(folder), storage)));
    EXPECT_EQ(trashFirst.trashAsked, 1);

    // A folder first: the photos are safe there and nothing asks to trash them.
    NotingDelivery folderFirst(storage);
    EXPECT_EQ(folderFirst.delivery.answer(uriOf(folder)), "S");
    EXPECT_EQ(folderFirst.delivery.answer("trash:///"), "E");
    EXPECT_EQ(folderFirst.delivery.answer(uriOf(folder)), "S");
    EXPECT_EQ(folderFirst.movedTo.size(), 1);
    EXPECT_EQ(folderFirst.trashAsked, 0);
}
