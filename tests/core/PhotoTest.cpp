#include "core/Photo.h"
#include "core/ImageFileRule.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vennimo;

namespace {

Photo minimalPhoto() {
    return Photo{"2049-77", "/home/u/Desktop/a.heic",   "桌面", 100.5, 90.25,
                 1234,      "/s/thumbnails/2049-77.jpg"};
}

QJsonObject withoutKey(QJsonObject o, const char* key) {
    o.remove(QLatin1String(key));
    return o;
}

} // namespace

TEST(Photo, EncodesRequiredFieldsAndOnlyPresentOptionals) {
    const Photo minimal = minimalPhoto();
    const QJsonObject json = toJson(minimal);
    EXPECT_EQ(json.size(), 7);
    EXPECT_EQ(json.keys(), (QStringList{"added", "id", "modified", "path", "size", "source", "thumbnail"}));

    Photo full = minimal;
    full.thumbnailModified = 3.0;
    full.sourceRoot = "/home/u/Desktop";
    full.created = 80.125;
    full.usageID = "ABCD-77";
    full.baselineImported = false;
    full.photosOrigin = PhotosOrigin{"L1", std::nullopt};
    const QJsonObject fullJson = toJson(full);
    EXPECT_EQ(fullJson.size(), 13);
    EXPECT_EQ(fullJson.value("photosOrigin").toObject().keys(), QStringList{"localIdentifier"});
    auto back = photoFromJson(JsonFile::parse(JsonFile::encode(fullJson)).value());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, full);
    EXPECT_EQ(photoFromJson(json).value(), minimal);
}

TEST(Photo, DecodingFailsOnMissingOrIllTypedRequiredKeys) {
    const QJsonObject json = toJson(minimalPhoto());
    for (const char* key : {"id", "path", "source", "added", "modified", "size", "thumbnail"})
        EXPECT_FALSE(photoFromJson(withoutKey(json, key)).ok()) << key;
    QJsonObject wrong = json;
    wrong.insert("size", "12");
    EXPECT_FALSE(photoFromJson(wrong).ok());
    wrong = json;
    wrong.insert("usageID", 5);
    EXPECT_FALSE(photoFromJson(wrong).ok()) << "an ill-typed optional key fails too";
    wrong = json;
    wrong.insert("unknown", "ignored");
    EXPECT_TRUE(photoFromJson(wrong).ok()) << "unknown keys are ignored";
    EXPECT_FALSE(photoFromJson(withoutKey(json, "size")).ok());
}

TEST(Library, RequiresPhotosAndInitializedAndFailsWhole) {
    Library library;
    EXPECT_TRUE(library.photos.isEmpty());
    EXPECT_FALSE(library.initialized);
    EXPECT_FALSE(library.pendingBaselineRoots);
    EXPECT_EQ(toJson(library).keys(), (QStringList{"initialized", "photos"}));

    library.photos = {minimalPhoto()};
    library.initialized = true;
    library.pendingBaselineRoots = QStringList{"/r"};
    auto back = libraryFromJson(toJson(library));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, library);

    QJsonObject json = toJson(library);
    EXPECT_FALSE(libraryFromJson(withoutKey(json, "initialized")).ok());
    EXPECT_FALSE(libraryFromJson(withoutKey(json, "photos")).ok());
    EXPECT_FALSE(libraryFromJson(withoutKey(json, "pendingBaselineRoots")).value().pendingBaselineRoots);

    QJsonArray photos = json.value("photos").toArray();
    photos.append(withoutKey(toJson(minimalPhoto()), "thumbnail"));
    json.insert("photos", photos);
    EXPECT_FALSE(libraryFromJson(json).ok()) << "one broken photo fails the whole library";
}

TEST(Photo, DerivedNamesAndFileBirth) {
    Photo p = minimalPhoto();
    EXPECT_EQ(p.name(), "a.heic");
    EXPECT_EQ(p.format(), "HEIC");
    p.path = "/x/noext";
    EXPECT_EQ(p.format(), "");
    EXPECT_EQ(p.recordKey(), "2049-77");
    p.usageID = "UUID-77";
    EXPECT_EQ(p.recordKey(), "UUID-77");

    EXPECT_TRUE(sameFileBirth(std::nullopt, 5.0));
    EXPECT_TRUE(sameFileBirth(5.0, std::nullopt));
    EXPECT_TRUE(sameFileBirth(1000.0, 1000.0 + 0.5e-6));
    EXPECT_FALSE(sameFileBirth(1000.0, 1000.0 + 1e-6));
    EXPECT_FALSE(sameFileBirth(0.0, 1e-6));
    EXPECT_FALSE(sameFileBirth(1000.0, 999.0));
}

TEST(PhotosOrigin, StorageKeyAndLibraryRoot) {
    const auto hex = [](const char* s) {
        return QString::fromLatin1(QCryptographicHash::hash(s, QCryptographicHash::Sha256).toHex());
    };
    EXPECT_EQ(PhotosOrigin{}.storageKey(), hex("unresolved|unknown"));
    EXPECT_EQ((PhotosOrigin{"ID/L0/001", "/Users/u/Pictures/P.photoslibrary"}.storageKey()),
              hex("/Users/u/Pictures/P.photoslibrary|ID/L0/001"));
    EXPECT_EQ(PhotosOrigin{}.storageKey().size(), 64);

    const QString root = vennimo::test::makeFolder("pics");
    const QString package = root + "/My.PhotosLibrary";
    vennimo::test::writeFile(package + "/originals/A/img.jpg", "x");
    EXPECT_EQ(PhotosOrigin::libraryRoot(package + "/originals/A/img.jpg"), package);
    EXPECT_EQ(PhotosOrigin::libraryRoot(package), package) << "the path itself is tested first";
    EXPECT_EQ(PhotosOrigin::libraryRoot("file://" + package + "/originals/A/img.jpg"), package);
    EXPECT_FALSE(PhotosOrigin::libraryRoot(root + "/other.jpg"));
    EXPECT_FALSE(PhotosOrigin::libraryRoot("https://example.com/x.photoslibrary/a.jpg"));
    ASSERT_TRUE(QFile::link(package + "/originals", root + "/shortcut"));
    EXPECT_EQ(PhotosOrigin::libraryRoot(root + "/shortcut/A/img.jpg"), package) << "links are resolved";

    Photo inPackage = minimalPhoto();
    inPackage.path = package + "/originals/A/img.jpg";
    EXPECT_TRUE(inPackage.isPhotosAsset());
    EXPECT_FALSE(minimalPhoto().isPhotosAsset());
}

TEST(ImageFileRule, KnownExtensionsAndImageMimeTypes) {
    for (const char* name : {"a.jpg", "b.JPEG", "/x/y/c.Heic", "d.cr3", "e.jxl", "f.exr", "g.psd", "h.ico"})
        EXPECT_TRUE(isImageFileName(name)) << name;
    EXPECT_TRUE(isImageFileName("/x/scan.pbm")) << "a MIME image type outside the list counts too";
    for (const char* name :
         {"notes.txt", "movie.mp4", "archive.zip", "/x/.jpg", "noext", "/x.jpg/file", "trailing."})
        EXPECT_FALSE(isImageFileName(name)) << name;
}
