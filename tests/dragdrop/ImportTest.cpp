#include "DropTestHelpers.h"
#include "LoopbackHttpServer.h"

#include "core/PhotoIdentity.h"
#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromisedImage.h"
#include "platform/FileIdentity.h"
#include "support/FakePhotosLibrary.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vennimo;
using namespace vennimo::test;
using Source = ExternalImageDrop::Source;

namespace {

template <class T>
QString message(const vennimo::Result<T>& result) {
    return result.ok() ? QStringLiteral("<ok>") : result.error().message;
}

const QString kSizeMessage = QStringLiteral("图片为空或超过 64 MB。");

QStringList importedFiles(const QString& base) {
    return QDir(base + QStringLiteral("/imported-images")).entryList(QDir::Files | QDir::Hidden);
}

Photo photoFor(const QString& path) {
    auto identity = currentIdentity(path);
    auto stat = FileIdentity::read(path);
    Photo photo;
    photo.path = path;
    photo.id = identity->id;
    photo.created = identity->created;
    photo.size = stat->size;
    photo.modified = stat->modified;
    return photo;
}

} // namespace

TEST(DropImport, SavedNamesComeFromTheBytes) {
    const QString storage = storageFolder();
    const QByteArray png = pngBytes();
    auto first = ExternalImageDrop::save(png, storage);
    auto second = ExternalImageDrop::save(png, storage);
    ASSERT_TRUE(first.ok()) << message(first).toStdString();
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*first, *second) << "the same PNG dropped twice gives one file";
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(png, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(QFileInfo(*first).fileName(), QStringLiteral("导入图片-") + hash + QStringLiteral(".png"));
    EXPECT_EQ(importedFiles(storage), QStringList{QFileInfo(*first).fileName()}) << "no temporary file left";
    EXPECT_EQ(readFile(*first), png);

    auto jpeg = ExternalImageDrop::save(jpegBytes(), storage);
    ASSERT_TRUE(jpeg.ok());
    EXPECT_TRUE(jpeg->endsWith(QStringLiteral(".jpg")) || jpeg->endsWith(QStringLiteral(".jpeg")))
        << jpeg->toStdString();

    // Someone changed the saved file: the drop must not silently hand out other bytes.
    writeFile(*first, pngBytes(8, 6, Qt::yellow));
    EXPECT_EQ(message(ExternalImageDrop::save(png, storage)),
              QStringLiteral("已保存的图片发生变化，请重新拖入。"));
}

TEST(DropImport, SaveRefusesBadBytes) {
    const QString storage = storageFolder();
    EXPECT_EQ(message(ExternalImageDrop::save(QByteArray(), storage)), kSizeMessage);
    EXPECT_EQ(
        message(ExternalImageDrop::save(QByteArray(ExternalImageDrop::kMaxImageBytes + 1, '\0'), storage)),
        kSizeMessage);
    EXPECT_EQ(message(ExternalImageDrop::save("hello, not an image", storage)),
              QStringLiteral("来源提供的内容不是可读取的图片。"));
    // Only a header, claiming 400 million pixels: refused on the header, nothing decoded.
    EXPECT_EQ(message(ExternalImageDrop::save(pngHeaderClaiming(20000, 20000), storage)),
              QStringLiteral("图片损坏或尺寸过大。"));
    // A plausible header without pixel data fails the small decode test.
    EXPECT_EQ(message(ExternalImageDrop::save(pngHeaderClaiming(64, 64), storage)),
              QStringLiteral("图片损坏或尺寸过大。"));
    QByteArray truncated = pngBytes(40, 40);
    truncated.truncate(truncated.size() / 2);
    EXPECT_FALSE(ExternalImageDrop::save(truncated, storage).ok());
    EXPECT_TRUE(importedFiles(storage).isEmpty()) << importedFiles(storage).join(u',').toStdString();
}

TEST(DropImport, OnePagePdfBecomesPng) {
    const QString storage = storageFolder();
    EXPECT_EQ(message(ExternalImageDrop::save(pdfBytes(2, QSizeF(612, 792)), storage)),
              QStringLiteral("来源提供的内容不是可读取的图片。"))
        << "two pages";
    auto letter = ExternalImageDrop::save(pdfBytes(1, QSizeF(612, 792)), storage);
    ASSERT_TRUE(letter.ok()) << message(letter).toStdString();
    EXPECT_TRUE(letter->endsWith(QStringLiteral(".png")));
    EXPECT_EQ(QImage(*letter).size(), QSize(1224, 1584)) << "scale 2";
    auto wide = ExternalImageDrop::save(pdfBytes(1, QSizeF(10000, 5000)), storage);
    ASSERT_TRUE(wide.ok()) << message(wide).toStdString();
    EXPECT_EQ(QImage(*wide).size(), QSize(4096, 2048)) << "longest side 4096";
    EXPECT_EQ(message(ExternalImageDrop::save("%PDF-1.4 garbage", storage)),
              QStringLiteral("来源提供的内容不是可读取的图片。"));
}

TEST(DropImport, ReadImageUsesOneBoundedDescriptor) {
    const QString folder = makeFolder(QStringLiteral("files"));
    const QString png = folder + QStringLiteral("/a.png");
    writeFile(png, pngBytes());
    EXPECT_EQ(ExternalImageDrop::readImage(png).valueOr({}), pngBytes());

    const QString empty = folder + QStringLiteral("/empty.png");
    writeFile(empty, QByteArray());
    EXPECT_EQ(message(ExternalImageDrop::readImage(empty)), kSizeMessage);

    const QString large = folder + QStringLiteral("/large.png");
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ExternalImageDrop::kMaxImageBytes + 1));
    }
    EXPECT_EQ(message(ExternalImageDrop::readImage(large)), kSizeMessage);

    const QString link = folder + QStringLiteral("/link.png");
    ASSERT_TRUE(QFile::link(png, link));
    EXPECT_EQ(message(ExternalImageDrop::readImage(link)), kSizeMessage) << "a link is not a regular file";

    const QString fifo = folder + QStringLiteral("/pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(message(ExternalImageDrop::readImage(fifo)), kSizeMessage) << "must not block on a pipe";
    EXPECT_EQ(message(ExternalImageDrop::readImage(folder)), kSizeMessage);
    EXPECT_FALSE(ExternalImageDrop::readImage(folder + QStringLiteral("/missing.png")).ok());
}

TEST(DropImport, MaterializeTriesAlternativesAndCountsFailures) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(QStringLiteral("drop"));
    const QString text = folder + QStringLiteral("/notes.txt");
    writeFile(text, "text");
    const QString large = folder + QStringLiteral("/large.png");
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ExternalImageDrop::kMaxImageBytes + 1));
    }
    const QString inPlace = folder + QStringLiteral("/photo.png");
    writeFile(inPlace, pngBytes(3, 3));

    ExternalImageDrop::Snapshot snapshot;
    // Unreadable file first, valid bytes second: the bytes win.
    snapshot.items.append({Source::file(text, true), Source::fromBytes(pngBytes())});
    snapshot.items.append({Source::file(large, true)});
    snapshot.items.append(QList<Source>{});
    snapshot.items.append({Source::file(inPlace, false)});
    snapshot.items.append({Source::fromBytes(pngBytes())});
    snapshot.items.append({Source::fromBytes("garbage")});

    const auto result = materializeOffMain(snapshot, storage);
    ASSERT_EQ(result.paths.size(), 2) << "repeats dropped: " << result.paths.join(u',').toStdString();
    EXPECT_TRUE(result.paths[0].startsWith(storage + QStringLiteral("/imported-images/导入图片-")));
    EXPECT_EQ(result.paths[1], inPlace) << "a plain file is used where it is";
    EXPECT_EQ(result.failures, 3);
    EXPECT_EQ(result.detail, QStringLiteral("来源提供的内容不是可读取的图片。"))
        << "the last failed item's message";

    ExternalImageDrop::Snapshot bad;
    bad.items.append({Source::file(large, true)});
    EXPECT_EQ(materializeOffMain(bad, storage).detail, kSizeMessage) << "a copied file of 64 MiB + 1 byte";
    bad.items = {{Source::file(text, false)}};
    EXPECT_EQ(materializeOffMain(bad, storage).detail, QStringLiteral("拖入的文件不是可读取的图片。"));
    bad.items = {QList<Source>{}};
    bad.droppedItems = 2;
    const auto overflow = materializeOffMain(bad, storage);
    EXPECT_EQ(overflow.failures, 3) << "items left out of the snapshot count as failures";
    EXPECT_EQ(overflow.detail, QStringLiteral("来源应用没有提供图片数据。"));
}

TEST(DropImport, ByteDropNeedsNoNetworkAndPhotosItemsGetTheirOwnFolder) {
    const QString storage = storageFolder();
    // A browser drag: the image's bytes untyped, its URL, and a promise the browser declines.
    QMimeData data;
    data.setData(QStringLiteral("application/octet-stream"), pngBytes());
    LoopbackHttpServer server([](QTcpSocket* socket, const QByteArray&) {
        LoopbackHttpServer::respond(socket, "200 OK", "Content-Length: 3\r\n", "png");
    });
    data.setData(QStringLiteral("text/uri-list"),
                 server.url(QStringLiteral("/cat.png")).toEncoded() + "\r\n");
    data.setData(QStringLiteral("XdndDirectSave0"), QByteArray());
    bool promiseAsked = false;
    const auto snapshot = ExternalImageDrop::snapshot(data, [&](const QMimeData&) {
        return QList<std::shared_ptr<FilePromiseReceiver>>{std::make_shared<FakePromiseReceiver>(
            QStringList{QStringLiteral("x.png")}, [&](const QString&, FilePromiseReceiver::Reader reader) {
                promiseAsked = true;
                reader(Error::failure(QStringLiteral("F")));
            })};
    });
    ASSERT_EQ(snapshot.items.size(), 1);
    ASSERT_EQ(snapshot.items[0].size(), 3);
    const auto result = materializeOffMain(snapshot, storage);
    EXPECT_TRUE(promiseAsked);
    EXPECT_EQ(server.requests(), 0) << "the bytes were enough: no download";
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), pngBytes());
    EXPECT_EQ(result.failures, 0);

    auto library = std::make_shared<FakePhotosLibrary>();
    PhotosLibrary::setShared(library);
    const QString id = library->addAsset(QStringLiteral("IMG_2.png"), pngBytes(5, 5));
    const auto photos = ExternalImageDrop::snapshot(*library->dragData({id}), {});
    PhotosLibrary::setShared(nullptr);
    const auto imported = materializeOffMain(photos, storage);
    ASSERT_EQ(imported.paths.size(), 1);
    const PhotosOrigin origin{id, QFileInfo(library->path()).canonicalFilePath()};
    EXPECT_EQ(QFileInfo(imported.paths[0]).absolutePath(), storage + QStringLiteral("/photos-imports/") +
                                                               origin.storageKey() +
                                                               QStringLiteral("/imported-images"));
    EXPECT_EQ(imported.origins.value(imported.paths[0]), origin);
}

TEST(DropImport, SourceNamesNeverLeaveTheStorageFolder) {
    const QString storage = storageFolder();
    const QString outside = TestEnvironment::root() + QStringLiteral("/x.png");
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items.append({Source::fromPromise(std::make_shared<PromisedImage>(
        std::make_shared<FakePromiseReceiver>(
            QStringList{QStringLiteral("../../x.png")},
            [](const QString& directory, FilePromiseReceiver::Reader reader) {
                const QString escaped = directory + QStringLiteral("/../../x.png");
                writeFile(escaped, pngBytes());
                reader(escaped);
            }),
        PromiseDirectory::create().value()))});
    const auto result = materializeOffMain(snapshot, storage);
    EXPECT_TRUE(result.paths.isEmpty());
    EXPECT_EQ(result.detail, QStringLiteral("来源返回了接收目录外的文件。"));
    for (const QString& path : result.paths)
        EXPECT_TRUE(path.startsWith(storage));
}

TEST(DropImport, DuplicateIsAllOrNothing) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(QStringLiteral("Desktop"));
    QList<Photo> photos;
    for (const char* name : {"a.png", "b.png", "noextension"}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(name);
        writeFile(path, pngBytes());
        photos.append(photoFor(path));
    }
    auto copies = ExternalImageDrop::duplicate(photos, storage);
    ASSERT_TRUE(copies.ok()) << message(copies).toStdString();
    ASSERT_EQ(copies->size(), 3);
    EXPECT_TRUE(QFileInfo(copies->at(0)).fileName().startsWith(QStringLiteral("照片副本-")));
    EXPECT_TRUE(copies->at(0).endsWith(QStringLiteral(".png")));
    EXPECT_EQ(QFileInfo(copies->at(2)).fileName().size(), QStringLiteral("照片副本-").size() + 36)
        << "no dot without an extension";
    EXPECT_EQ(readFile(copies->at(1)), pngBytes());
    for (const QString& path : *copies)
        QFile::remove(path);

    // The second original grows while it is copied: nothing of this call remains.
    auto failed = ExternalImageDrop::duplicate(photos, storage, [&](int index, const QString& partial) {
        EXPECT_TRUE(QFileInfo::exists(partial));
        if (index == 1) {
            QFile file(photos[1].path);
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write("more");
        }
    });
    EXPECT_EQ(message(failed), QStringLiteral("复制期间原图发生变化，请重新拖动。"));
    EXPECT_TRUE(importedFiles(storage).isEmpty()) << importedFiles(storage).join(u',').toStdString();

    // An original that is no longer the photo's file.
    Photo replaced = photos[0];
    replaced.id = QStringLiteral("1-1");
    EXPECT_FALSE(ExternalImageDrop::duplicate({photos[2], replaced}, storage).ok());
    EXPECT_TRUE(importedFiles(storage).isEmpty());
}

TEST(DropImport, LeftoverPartialFilesAreRemovedAtStart) {
    const QString storage = storageFolder();
    const QString imported = storage + QStringLiteral("/imported-images");
    const QString photos = storage + QStringLiteral("/photos-imports/key/imported-images");
    writeFile(imported + QStringLiteral("/.照片副本-A.partial"), "x");
    writeFile(photos + QStringLiteral("/.导入图片-B.png.C.partial"), "x");
    writeFile(imported + QStringLiteral("/导入图片-kept.png"), "x");
    writeFile(imported + QStringLiteral("/visible.partial"), "x");
    EXPECT_EQ(ExternalImageDrop::removeLeftoverPartials(storage), 2);
    EXPECT_EQ(importedFiles(storage),
              (QStringList{QStringLiteral("visible.partial"), QStringLiteral("导入图片-kept.png")}));
    EXPECT_TRUE(importedFiles(storage + QStringLiteral("/photos-imports/key")).isEmpty());
    EXPECT_EQ(ExternalImageDrop::removeLeftoverPartials(storage + QStringLiteral("/missing")), 0);
}
