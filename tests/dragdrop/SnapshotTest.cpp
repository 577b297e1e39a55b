#include "DropTestHelpers.h"

#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromisedImage.h"
#include "support/FakePhotosLibrary.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;
using Kind = ExternalImageDrop::Source::Kind;

namespace {

QByteArray uriList(const QList<QUrl>& urls) {
    QByteArray text;
    for (const QUrl& url : urls)
        text += url.toEncoded() + "\r\n";
    return text;
}

ExternalImageDrop::PromiseReceivers promises(int count,
                                             QList<std::shared_ptr<FakePromiseReceiver>>* made = nullptr) {
    return [count, made](const QMimeData&) {
        QList<std::shared_ptr<FilePromiseReceiver>> receivers;
        for (int i = 0; i < count; ++i) {
            auto receiver = std::make_shared<FakePromiseReceiver>(
                QStringList{QStringLiteral("x.png")}, [](const QString&, FilePromiseReceiver::Reader reader) {
                    reader(Error::failure(QStringLiteral("F")));
                });
            if (made)
                made->append(receiver);
            receivers.append(receiver);
        }
        return receivers;
    };
}

} // namespace

TEST(DropSnapshot, CanReadLooksAtTypesAndFileUrlsOnly) {
    const QString folder = makeFolder(QStringLiteral("Desktop"));
    writeFile(folder + QStringLiteral("/notes.txt"), "text");
    writeFile(folder + QStringLiteral("/photo.jpg"), jpegBytes());

    QMimeData textFiles;
    textFiles.setUrls({QUrl::fromLocalFile(folder + QStringLiteral("/notes.txt"))});
    EXPECT_FALSE(ExternalImageDrop::canRead(textFiles)) << "only text files";

    QMimeData withImage;
    withImage.setUrls({QUrl::fromLocalFile(folder + QStringLiteral("/notes.txt")),
                       QUrl::fromLocalFile(folder + QStringLiteral("/photo.jpg"))});
    EXPECT_TRUE(ExternalImageDrop::canRead(withImage)) << "one image file among others";

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("ftp://example.invalid/a"))});
    EXPECT_TRUE(ExternalImageDrop::canRead(web)) << "a URL of any other scheme";

    QMimeData bytes;
    bytes.setData(QStringLiteral("image/heic"), "anything");
    EXPECT_TRUE(ExternalImageDrop::canRead(bytes)) << "image bytes before their contents are known";

    QMimeData browser;
    browser.setData(QStringLiteral("application/octet-stream"), "x");
    EXPECT_TRUE(ExternalImageDrop::canRead(browser));

    QMimeData text;
    text.setText(QStringLiteral("hello"));
    text.setHtml(QStringLiteral("<b>hello</b>"));
    EXPECT_FALSE(ExternalImageDrop::canRead(text)) << "selected text is not an image drop";
    EXPECT_FALSE(ExternalImageDrop::canRead(QMimeData()));
}

TEST(DropSnapshot, ByteAlternativesKeepTheirOrderAndLimits) {
    QMimeData data;
    // Listed in the "wrong" order on purpose: the order of preference is ours.
    data.setData(QStringLiteral("image/heic"), "heic-bytes");
    data.setData(QStringLiteral("image/tiff"), tiffBytes());
    data.setData(QStringLiteral("image/jpeg"), jpegBytes());
    data.setData(QStringLiteral("image/gif"), QByteArray());
    data.setData(QStringLiteral("image/webp"), QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'w'));
    data.setData(QStringLiteral("text/html"), "<img>");

    const auto snapshot = ExternalImageDrop::snapshot(data, promises(0));
    ASSERT_EQ(snapshot.items.size(), 1);
    const auto& alternatives = snapshot.items[0];
    ASSERT_EQ(alternatives.size(), 3) << "empty and 64 MiB + 1 byte data are not offered";
    EXPECT_EQ(alternatives[0].bytes, jpegBytes()) << "JPEG before TIFF";
    EXPECT_EQ(alternatives[1].bytes, tiffBytes());
    EXPECT_EQ(alternatives[2].bytes, QByteArray("heic-bytes")) << "other image types after the six";
    for (const auto& alternative : alternatives)
        EXPECT_EQ(alternative.kind, Kind::Bytes);
    EXPECT_TRUE(snapshot.origins.isEmpty());

    QMimeData unusable;
    unusable.setData(QStringLiteral("image/png"), QByteArray());
    unusable.setData(QStringLiteral("image/jpeg"), QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'j'));
    const auto empty = ExternalImageDrop::snapshot(unusable, promises(0));
    ASSERT_EQ(empty.items.size(), 1);
    EXPECT_TRUE(empty.items[0].isEmpty());
    const auto result = materializeOffMain(empty, storageFolder());
    EXPECT_EQ(result.failures, 1);
    EXPECT_EQ(result.detail, QStringLiteral("来源应用没有提供图片数据。"));
}

TEST(DropSnapshot, BrowserDragOffersBytesThenPromiseThenUrl) {
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), "https://example.invalid/cat.png\r\n");
    data.setData(QStringLiteral("text/html"), "<img src=\"https://example.invalid/cat.png\">");
    data.setData(QStringLiteral("application/octet-stream"), pngBytes());
    data.setData(QStringLiteral("XdndDirectSave0"), QByteArray());

    const auto snapshot = ExternalImageDrop::snapshot(data, promises(1));
    ASSERT_EQ(snapshot.items.size(), 1);
    const auto& alternatives = snapshot.items[0];
    ASSERT_EQ(alternatives.size(), 3);
    EXPECT_EQ(alternatives[0].kind, Kind::Bytes);
    EXPECT_EQ(alternatives[0].bytes, pngBytes()) << "octet-stream typed by its content";
    EXPECT_EQ(alternatives[1].kind, Kind::Promise);
    EXPECT_EQ(alternatives[2].kind, Kind::Remote);
    EXPECT_EQ(alternatives[2].url, QUrl(QStringLiteral("https://example.invalid/cat.png")));

    QMimeData notAnImage;
    notAnImage.setData(QStringLiteral("application/octet-stream"), "#!/bin/sh\nrm -rf /\n");
    const auto refused = ExternalImageDrop::snapshot(notAnImage, promises(0));
    ASSERT_EQ(refused.items.size(), 1);
    EXPECT_TRUE(refused.items[0].isEmpty()) << "untyped bytes that are no image are not offered";
}

TEST(DropSnapshot, WebUrlsComeFromEveryBrowserType) {
    QMimeData caps;
    caps.setData(QStringLiteral("text/uri-list"),
                 "HTTPS://example.invalid/a.png\r\nftp://example.invalid/b.png\r\nfile:///etc/passwd\r\n");
    const auto snapshot = ExternalImageDrop::snapshot(caps, promises(0));
    ASSERT_EQ(snapshot.items.size(), 3);
    ASSERT_EQ(snapshot.items[0].size(), 1);
    EXPECT_EQ(snapshot.items[0][0].kind, Kind::Remote) << "a scheme in capitals is accepted";
    EXPECT_TRUE(snapshot.items[1].isEmpty()) << "ftp is not offered";
    ASSERT_EQ(snapshot.items[2].size(), 1);
    EXPECT_EQ(snapshot.items[2][0].kind, Kind::File) << "a file URL is a file, never a download";

    QMimeData unencoded;
    unencoded.setData(QStringLiteral("text/uri-list"),
                      QStringLiteral("file:///srv/相册/照片 1.jpg\r\n").toUtf8());
    const auto raw = ExternalImageDrop::snapshot(unencoded, promises(0));
    ASSERT_EQ(raw.items.size(), 1);
    ASSERT_EQ(raw.items[0].size(), 1);
    EXPECT_EQ(raw.items[0][0].path, QStringLiteral("/srv/相册/照片 1.jpg"))
        << "file names some sources leave unencoded";

    QMimeData moz;
    const QString mozText = QStringLiteral("\uFEFFhttps://example.invalid/m.png\nTitle");
    moz.setData(QStringLiteral("text/x-moz-url"),
                QByteArray(reinterpret_cast<const char*>(mozText.utf16()), mozText.size() * 2));
    const auto fromMoz = ExternalImageDrop::snapshot(moz, promises(0));
    ASSERT_EQ(fromMoz.items.size(), 1);
    ASSERT_EQ(fromMoz.items[0].size(), 1);
    EXPECT_EQ(fromMoz.items[0][0].url, QUrl(QStringLiteral("https://example.invalid/m.png")));

    QMimeData netscape;
    netscape.setData(QStringLiteral("_NETSCAPE_URL"), "data:image/png;base64,AAAA\nlink title");
    const auto fromNetscape = ExternalImageDrop::snapshot(netscape, promises(0));
    ASSERT_EQ(fromNetscape.items.size(), 1);
    ASSERT_EQ(fromNetscape.items[0].size(), 1);
    EXPECT_EQ(fromNetscape.items[0][0].url.scheme(), QStringLiteral("data"));
}

TEST(DropSnapshot, PlainFilesAreUsedInPlaceUnlessTemporaryOrOfferedWithData) {
    const QString desktop = makeFolder(QStringLiteral("Desktop"));
    const QString inPlace = desktop + QStringLiteral("/photo.jpg");
    writeFile(inPlace, jpegBytes());
    // The test's own home lies in the temporary folder; here only the runtime folder counts.
    const QString runtime = QFileInfo(qEnvironmentVariable("XDG_RUNTIME_DIR")).canonicalFilePath();
    ExternalImageDrop::overrideTemporaryFolders(QStringList{runtime + QLatin1Char('/')});
    const QString temporary = runtime + QStringLiteral("/drag.jpg");
    writeFile(temporary, jpegBytes());
    // A link on the Desktop into a temporary folder counts as temporary.
    const QString link = desktop + QStringLiteral("/link.jpg");
    ASSERT_TRUE(QFile::link(temporary, link));

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(inPlace), QUrl::fromLocalFile(temporary), QUrl::fromLocalFile(link)});
    const auto snapshot = ExternalImageDrop::snapshot(files, promises(0));
    ASSERT_EQ(snapshot.items.size(), 3);
    EXPECT_EQ(snapshot.items[0], QList{ExternalImageDrop::Source::file(inPlace, false)});
    EXPECT_EQ(snapshot.items[1], QList{ExternalImageDrop::Source::file(temporary, true)});
    EXPECT_EQ(snapshot.items[2], QList{ExternalImageDrop::Source::file(link, true)})
        << "the URL itself is kept";

    ExternalImageDrop::overrideTemporaryFolders(std::nullopt);
    EXPECT_TRUE(ExternalImageDrop::isInTemporaryFolder(QStringLiteral("/tmp/a.png")));
    EXPECT_TRUE(ExternalImageDrop::isInTemporaryFolder(qEnvironmentVariable("XDG_RUNTIME_DIR") +
                                                       QStringLiteral("/a.png")));
    EXPECT_TRUE(ExternalImageDrop::isInTemporaryFolder(QStringLiteral("/private/var/folders/x/a.png")));
    EXPECT_TRUE(ExternalImageDrop::isInTemporaryFolder(QStringLiteral("/var/tmp/a.png")));
    EXPECT_FALSE(ExternalImageDrop::isInTemporaryFolder(QStringLiteral("/tmpfoo/a.png")));
    EXPECT_FALSE(ExternalImageDrop::isInTemporaryFolder(QStringLiteral("/var/lib/a.png")));

    ExternalImageDrop::overrideTemporaryFolders(QStringList{runtime + QLatin1Char('/')});
    QMimeData withBytes;
    withBytes.setUrls({QUrl::fromLocalFile(inPlace)});
    withBytes.setData(QStringLiteral("image/png"), pngBytes());
    const auto copied = ExternalImageDrop::snapshot(withBytes, promises(0));
    ASSERT_EQ(copied.items.size(), 1);
    ASSERT_EQ(copied.items[0].size(), 2);
    EXPECT_EQ(copied.items[0][0], ExternalImageDrop::Source::file(inPlace, true))
        << "a file offered with image bytes is copied";
    EXPECT_EQ(copied.items[0][1].kind, Kind::Bytes);
}

TEST(DropSnapshot, PromisesAreMatchedInOrderAndExtrasBecomeItems) {
    QMimeData data;
    data.setData(QStringLiteral("XdndDirectSave0"), QByteArray());
    QList<std::shared_ptr<FakePromiseReceiver>> made;
    const auto snapshot = ExternalImageDrop::snapshot(data, promises(2, &made));
    ASSERT_EQ(made.size(), 2);
    ASSERT_EQ(snapshot.items.size(), 2);
    ASSERT_EQ(snapshot.items[0].size(), 1);
    ASSERT_EQ(snapshot.items[1].size(), 1);
    EXPECT_EQ(snapshot.items[0][0].kind, Kind::Promise);
    EXPECT_EQ(snapshot.items[1][0].kind, Kind::Promise);
    EXPECT_NE(snapshot.items[0][0].promise, snapshot.items[1][0].promise);
    EXPECT_EQ(snapshot.items[0][0].promise->directory(), snapshot.items[1][0].promise->directory())
        << "one private folder per drop";
    EXPECT_TRUE(snapshot.origins.isEmpty());

    const QString folder = snapshot.items[0][0].promise->directory()->path();
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(QStringLiteral("vennimo-drop-")));
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0FFF &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                    QFile::WriteUser | QFile::ExeUser),
              0)
        << "nobody else may look into the drop folder";
}

TEST(DropSnapshot, WholeDropIsCapped) {
    QMimeData many;
    QList<QUrl> urls;
    for (int i = 0; i < ExternalImageDrop::kMaxDropItems + 5; ++i)
        urls.append(QUrl(QStringLiteral("https://example.invalid/%1.png").arg(i)));
    many.setData(QStringLiteral("text/uri-list"), uriList(urls));
    const auto capped = ExternalImageDrop::snapshot(many, promises(0));
    EXPECT_EQ(capped.items.size(), ExternalImageDrop::kMaxDropItems);
    EXPECT_EQ(capped.droppedItems, 5);

    // Five 60 MiB alternatives: the first four fit into 256 MiB, the fifth is left out.
    QMimeData large;
    const QStringList types{QStringLiteral("image/png"), QStringLiteral("image/jpeg"),
                            QStringLiteral("image/webp"), QStringLiteral("image/gif"),
                            QStringLiteral("image/tiff")};
    for (int i = 0; i < types.size(); ++i)
        large.setData(types[i], QByteArray(60 << 20, char('a' + i)));
    const auto limited = ExternalImageDrop::snapshot(large, promises(0));
    ASSERT_EQ(limited.items.size(), 1);
    ASSERT_EQ(limited.items[0].size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(limited.items[0][i].bytes.at(0), char('a' + i)) << "kept in order";
}

TEST(DropSnapshot, PhotosOriginsAreReadThroughTheLibraryLayer) {
    auto library = std::make_shared<FakePhotosLibrary>();
    PhotosLibrary::setShared(library);
    QString original;
    const QString id = library->addAsset(QStringLiteral("IMG_1.jpg"), jpegBytes(), &original);
    const auto data = library->dragData({id});
    const auto snapshot = ExternalImageDrop::snapshot(*data, promises(0));
    ASSERT_EQ(snapshot.items.size(), 1);
    ASSERT_TRUE(snapshot.origins.contains(0));
    EXPECT_EQ(snapshot.origins[0].localIdentifier, id);
    EXPECT_EQ(snapshot.origins[0].libraryPath, QFileInfo(library->path()).canonicalFilePath());
    EXPECT_EQ(snapshot.items[0], QList{ExternalImageDrop::Source::file(original, true)})
        << "files from a Photos library are always copied";
    PhotosLibrary::setShared(nullptr);

    const QString lib = QFileInfo(library->path()).canonicalFilePath();
    const QString libUrl = QUrl::fromLocalFile(lib).toString();
    const QString uuid = QStringLiteral("0A1B2C3D-0000-4000-8000-000000000001");
    auto read = [](std::optional<QString> file, std::optional<QString> identifier,
                   std::optional<QString> url) {
        return ExternalImageDrop::readPhotosOrigin(file, PhotosAssetReference{identifier, url}, true, true);
    };
    EXPECT_EQ(read(std::nullopt, uuid + QStringLiteral("/L0/001"), libUrl),
              (PhotosOrigin{uuid + QStringLiteral("/L0/001"), lib}));
    EXPECT_EQ(read(std::nullopt, QStringLiteral("/") + uuid, libUrl),
              (PhotosOrigin{QStringLiteral("/") + uuid, lib}))
        << "the first non-empty component is the UUID";
    EXPECT_EQ(read(std::nullopt, QStringLiteral("not-a-uuid/L0/001"), libUrl),
              (PhotosOrigin{std::nullopt, lib}));
    EXPECT_EQ(read(std::nullopt, uuid + QStringLiteral("/") + QString(520, QLatin1Char('x')), libUrl),
              (PhotosOrigin{std::nullopt, lib}))
        << "longer than 512 characters";

    FakePhotosLibrary other(QStringLiteral("Other"));
    const QString otherFile = other.path() + QStringLiteral("/originals/a.jpg");
    writeFile(otherFile, jpegBytes());
    EXPECT_EQ(read(otherFile, uuid, libUrl),
              (PhotosOrigin{std::nullopt, QFileInfo(other.path()).canonicalFilePath()}))
        << "libraries disagree: the file's wins without an identifier";

    EXPECT_EQ(ExternalImageDrop::readPhotosOrigin(std::nullopt, std::nullopt, false, true), PhotosOrigin{})
        << "only a Photos type: an origin without fields";
    EXPECT_EQ(ExternalImageDrop::readPhotosOrigin(QStringLiteral("/home/x.jpg"), std::nullopt, false, false),
              std::nullopt);
}
