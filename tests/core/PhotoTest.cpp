#include "core/Photo.h"
#include "core/ImageFileRule.h"
#include "core/PathRules.h"
#include "core/PhotoIdentity.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::writeFile;

namespace {

Photo minimalPhoto() {
    return Photo{"2049-77", "/home/u/Desktop/a.heic",   "桌面", 100.5, 90.25,
                 1234,      "/s/thumbnails/2049-77.jpg"};
}

QJsonObject without(QJsonObject o, const char* key) {
    o.remove(QLatin1String(key));
    return o;
}

} // namespace

TEST(Photo, JsonFormsFileBirthAndLibraryPackages) {
    const QJsonObject json = toJson(minimalPhoto());
    EXPECT_EQ(json.keys(), (QStringList{"added", "id", "modified", "path", "size", "source", "thumbnail"}));
    Photo full = minimalPhoto();
    full.thumbnailModified = 3.0;
    full.sourceRoot = "/home/u/Desktop";
    full.created = 80.125;
    full.usageID = "ABCD-77";
    full.baselineImported = false;
    full.photosOrigin = PhotosOrigin{"L1", std::nullopt};
    EXPECT_EQ(photoFromJson(JsonFile::parse(JsonFile::encode(toJson(full))).value()).value(), full);
    for (const char* key : {"id", "path", "source", "added", "modified", "size", "thumbnail"})
        EXPECT_FALSE(photoFromJson(without(json, key)).ok()) << key;
    Library library{{minimalPhoto()}, true, QStringList{"/r"}};
    EXPECT_EQ(libraryFromJson(toJson(library)).value(), library);
    QJsonObject lib = toJson(library);
    EXPECT_FALSE(libraryFromJson(without(lib, "initialized")).ok());
    EXPECT_FALSE(libraryFromJson(without(lib, "photos")).ok());
    QJsonArray photos = lib.value("photos").toArray();
    photos.append(without(json, "thumbnail"));
    lib.insert("photos", photos);
    EXPECT_FALSE(libraryFromJson(lib).ok()) << "one broken photo fails the whole library";
    EXPECT_TRUE(sameFileBirth(std::nullopt, 5.0));
    EXPECT_TRUE(sameFileBirth(1000.0, 1000.0 + 0.5e-6));
    EXPECT_FALSE(sameFileBirth(1000.0, 1000.0 + 1e-6));
    const QString root = makeFolder("pics");
    const QString package = root + "/My.PhotosLibrary";
    writeFile(package + "/originals/A/img.jpg", "x");
    EXPECT_EQ(PhotosOrigin::libraryRoot(package + "/originals/A/img.jpg"), package);
    EXPECT_EQ(PhotosOrigin::libraryRoot(package), package) << "the path itself is tested first";
    ASSERT_TRUE(QFile::link(package + "/originals", root + "/shortcut"));
    EXPECT_EQ(PhotosOrigin::libraryRoot(root + "/shortcut/A/img.jpg"), package) << "links are resolved";
    for (const char* name : {"/x/a.HEIC", "/x/b.heif", "/x/c.webp", "/x/scan.pbm"}) // pbm: by its MIME type
        EXPECT_TRUE(isImageFileName(name)) << name;
    EXPECT_FALSE(isImageFileName("/x/.jpg")) << "hidden";
}

TEST(PathRules, KeysContainmentAndRootOrder) {
    EXPECT_EQ(filesystemPathKey("/private/var/folders/x"), "/var/folders/x");
    EXPECT_EQ(filesystemPathKey("/private/var"), "/var");
    EXPECT_EQ(filesystemPathKey("/private/variable"), "/private/variable");
    EXPECT_TRUE(pathIsWithin("/private/tmp/a", "/tmp"));
    EXPECT_FALSE(pathIsWithin("/tmpx", "/tmp"));
    const QString base = makeFolder("roots");
    for (const char* sub : {"/a/b/c", "/z", "/m"})
        makeFolder(QString("roots") + sub);
    ASSERT_TRUE(QFile::link(base + "/a/b", base + "/alias"));
    const auto roots = normalizedSourceRoots({{"A", base + "/a"},
                                              {"C", base + "/a/b/c"},
                                              {"B", base + "/a/b"},
                                              {"Alias", base + "/alias"},
                                              {"Z", base + "/z"},
                                              {"M", base + "/m/"}});
    QStringList names;
    for (const SourceRoot& r : roots)
        names << r.name;
    EXPECT_EQ(names, (QStringList{"C", "B", "A", "M", "Z"}))
        << "the link to a/b is a duplicate; equal depths sort by path";
}

TEST(PhotoIdentity, DetectsReplacedLinkedAndDeletedOriginals) {
    const QString folder = makeFolder("originals");
    const QString path = folder + "/p.jpg";
    writeFile(path, "one");
    const auto identity = currentIdentity(path);
    ASSERT_TRUE(identity.ok());
    Photo photo{identity->id, path, "s", 0, 0, 3, "t"};
    photo.usageID = identity->usageID;
    photo.created = identity->created;
    EXPECT_TRUE(validateOriginalIdentity(photo).ok());
    Photo idOnly = photo;
    idOnly.usageID.reset();
    EXPECT_TRUE(originalIdentityMatches(idOnly)) << "without usageID the photo id form is compared";
    Photo linked = photo;
    linked.path = folder + "/link.jpg";
    ASSERT_TRUE(QFile::link(path, linked.path));
    EXPECT_EQ(validateOriginalIdentity(linked).error().code, 2) << "a link is not the original";
    writeFile(folder + "/other.jpg", "two");
    ASSERT_EQ(rename(QFile::encodeName(folder + "/other.jpg"), QFile::encodeName(path)), 0);
    const Status replaced = validateOriginalIdentity(photo);
    ASSERT_FALSE(replaced.ok());
    EXPECT_EQ(replaced.error().domain, "Vennimo.Trash");
    EXPECT_EQ(replaced.error().code, 2);
    EXPECT_EQ(replaced.error().message, "原图已移动或被替换，请刷新后重新选择。");
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(validateOriginalIdentity(photo).error().sysErrno, ENOENT);
}
