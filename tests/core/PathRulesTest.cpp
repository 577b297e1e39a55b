#include "core/PathRules.h"
#include "core/PhotoIdentity.h"
#include "platform/FileIdentity.h"
#include "platform/VolumeUuid.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::writeFile;

TEST(PathRules, PathKeysAndContainment) {
    EXPECT_EQ(filesystemPathKey("/private/var"), "/var");
    EXPECT_EQ(filesystemPathKey("/private/var/folders/x"), "/var/folders/x");
    EXPECT_EQ(filesystemPathKey("/private/variable"), "/private/variable");
    EXPECT_EQ(filesystemPathKey("/private/tmp/a/b.png"), "/tmp/a/b.png");
    EXPECT_EQ(filesystemPathKey("/private/etc"), "/etc");
    EXPECT_EQ(filesystemPathKey("/private/Users"), "/private/Users");
    EXPECT_EQ(filesystemPathKey("/Private/var"), "/Private/var");

    EXPECT_TRUE(pathIsWithin("/private/tmp/a", "/tmp"));
    EXPECT_TRUE(pathIsWithin("/tmp", "/tmp/"));
    EXPECT_TRUE(pathIsWithin("/tmp", "/tmp"));
    EXPECT_FALSE(pathIsWithin("/tmpx", "/tmp"));
    EXPECT_FALSE(pathIsWithin("/a/bc", "/a/b"));
    EXPECT_TRUE(pathIsWithin("/anything/at/all", "/"));
}

TEST(PathRules, NormalizedRootsAreDeepestFirstWithoutDuplicates) {
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
    EXPECT_EQ(roots[3].path, base + "/m") << "paths are standardised";
    EXPECT_EQ(normalizedSourceRoots({{"x", "/no/such/root"}}).value(0).path, "/no/such/root");
}

TEST(PhotoIdentity, DetectsReplacedMovedAndLinkedOriginals) {
    const QString folder = makeFolder("originals");
    const QString path = folder + "/p.jpg";
    writeFile(path, "one");
    auto identity = currentIdentity(path);
    ASSERT_TRUE(identity.ok());
    Photo photo{identity->id, path, "s", 0, 0, 3, "t"};
    photo.usageID = identity->usageID;
    photo.created = identity->created;
    EXPECT_TRUE(validateOriginalIdentity(photo).ok());

    Photo idOnly = photo;
    idOnly.usageID.reset();
    EXPECT_TRUE(originalIdentityMatches(idOnly)) << "without usageID the photo id form is compared";
    idOnly.id = "0-0";
    EXPECT_FALSE(originalIdentityMatches(idOnly));
    if (VolumeUuid::forPath(path)) {
        Photo usageAsId = photo;
        usageAsId.usageID.reset();
        usageAsId.id = identity->usageID;
        EXPECT_FALSE(originalIdentityMatches(usageAsId)) << "the id is never compared with the UUID form";
    }

    if (photo.created) {
        Photo moved = photo;
        moved.created = *photo.created + 2e-6;
        EXPECT_FALSE(originalIdentityMatches(moved));
        moved.created.reset();
        EXPECT_TRUE(originalIdentityMatches(moved)) << "no stored birth passes the date step";
    }

    // Replaced by another file of the same name: a new inode.
    writeFile(folder + "/other.jpg", "two");
    ASSERT_EQ(
        rename(QFile::encodeName(folder + "/other.jpg").constData(), QFile::encodeName(path).constData()), 0);
    const Status replaced = validateOriginalIdentity(photo);
    ASSERT_FALSE(replaced.ok());
    EXPECT_EQ(replaced.error().domain, "Vennimo.Trash");
    EXPECT_EQ(replaced.error().code, 2);
    EXPECT_EQ(replaced.error().message, "原图已移动或被替换，请刷新后重新选择。");

    // A symbolic link to the right file is not the original.
    auto now = currentIdentity(path);
    Photo linked = photo;
    linked.id = now->id;
    linked.usageID = now->usageID;
    linked.created = now->created;
    linked.path = folder + "/link.jpg";
    ASSERT_TRUE(QFile::link(path, linked.path));
    EXPECT_EQ(validateOriginalIdentity(linked).error().code, 2);

    ASSERT_TRUE(QFile::remove(path));
    const Status deleted = validateOriginalIdentity(photo);
    ASSERT_FALSE(deleted.ok());
    EXPECT_EQ(deleted.error().sysErrno, ENOENT) << "a deleted file fails with the file system's error";
}
