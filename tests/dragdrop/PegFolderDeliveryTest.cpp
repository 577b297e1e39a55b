#include "DropTestHelpers.h"

#include "dragdrop/PegFolderDelivery.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

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
    const QString volumeTrash = makeFolder("volume") + "/.Trash-" + QString::number(::getuid()) + "/files";
    ASSERT_TRUE(QDir().mkpath(volumeTrash));
    const QString plain = makeFolder("delivery-plain-trash");
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination("trash:///"));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination("trash:///p0.png"));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(homeTrashFiles).toEncoded()));
    EXPECT_TRUE(PegFolderDelivery::isTrashDestination(QUrl::fromLocalFile(volumeTrash).toEncoded() + '\0'));
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
