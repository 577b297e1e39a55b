#include "core/ExhibitionStore.h"
#include "core/Indexer.h"
#include "core/PhotoIdentity.h"
#include "platform/Bookmark.h"
#include "platform/Dates.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString exhibitionFile() {
    return storageFolder() + "/exhibition.json";
}

Photo photoAt(const QString& path, double added) {
    Photo p;
    p.id = "1-" + path;
    p.path = path;
    p.added = added;
    return p;
}

// Real exhibition items for image files made in `folder`.
QList<ExhibitionReference> prepared(const QString& folder, const QStringList& names) {
    QStringList paths;
    for (const QString& name : names) {
        saveImage(makeImage(8, 6), folder + "/" + name);
        paths << folder + "/" + name;
    }
    return ExhibitionStore(storageFolder()).prepare(paths, {});
}

void writeExhibition(const QList<ExhibitionReference>& refs) {
    ExhibitionReferences map;
    for (const auto& r : refs)
        map.insert(r.photo.recordKey(), r);
    ASSERT_TRUE(JsonFile::writeAtomically(exhibitionFile(), encodeExhibition(map)).ok());
}

} // namespace

TEST(ExhibitionStore, LoadFollowsRenamedFilesKeepsLostOnesAndNeverRewritesABrokenFile) {
    const QString folder = makeFolder("pictures");
    const auto refs = prepared(folder, {"kept.jpg", "renamed.jpg", "deleted.jpg"});
    ASSERT_EQ(refs.size(), 3);
    writeExhibition(refs);
    ASSERT_EQ(rename(QFile::encodeName(folder + "/renamed.jpg"), QFile::encodeName(folder + "/new name.jpg")),
              0);
    ASSERT_TRUE(QFile::remove(folder + "/deleted.jpg"));
    {
        ExhibitionStore store(storageFolder());
        ASSERT_EQ(store.references().size(), 3) << "loading never drops an entry";
        EXPECT_EQ(store.references().value(refs[0].photo.recordKey()), refs[0]);
        const Photo found = store.references().value(refs[1].photo.recordKey()).photo;
        EXPECT_EQ(found.path, folder + "/new name.jpg") << "found again through its bookmark";
        EXPECT_TRUE(originalIdentityMatches(found));
        EXPECT_EQ(store.references().value(refs[2].photo.recordKey()), refs[2])
            << "a lost file stays as stored";
    }
    const QByteArray garbage = R"({"k": {"bookmark": "@@", "photo": {}}})";
    writeFile(exhibitionFile(), garbage);
    ExhibitionStore broken(storageFolder());
    ASSERT_TRUE(broken.loadError().has_value());
    EXPECT_TRUE(broken.loadError()->startsWith("展览记录无法读取：")) << broken.loadError()->toStdString();
    EXPECT_TRUE(broken.remove({photoAt("/a.jpg", 1)}).ok()) << "nothing to remove is no error";
    EXPECT_EQ(readFile(exhibitionFile()), garbage) << "a broken file is never rewritten";
}

TEST(ExhibitionStore, MergedHidesIndexedPhotosByKeyOrMatchingFileAndRemoveWritesOnlyItsChange) {
    const QString folder = makeFolder("merge");
    auto refs = prepared(folder, {"same.jpg", "stale.jpg"});
    ASSERT_EQ(refs.size(), 2);
    ExhibitionReference& stale = refs[1];
    stale.photo.created = stale.photo.created.value_or(0) + 50; // no longer that file's birth
    stale.photo.usageID = "STALE-1";
    ExhibitionReference keyed = refs[0];
    keyed.photo.id += "0";
    keyed.photo.usageID = "SHARED-KEY";
    keyed.photo.path = "/nowhere/keyed.jpg";
    keyed.photo.created = 500.0;
    keyed.photo.added = 1e9;
    writeExhibition({refs[0], stale, keyed});

    ExhibitionStore store(storageFolder());
    const Photo indexedSame = photoAt(folder + "/same.jpg", 1),
                indexedStale = photoAt(folder + "/stale.jpg", 1);
    Photo indexedKeyed = photoAt("/elsewhere/x.jpg", 1);
    indexedKeyed.usageID = "SHARED-KEY";
    const Photo plain = photoAt("/elsewhere/plain.jpg", 1), plainB = photoAt("/elsewhere/b.jpg", 1);
    const auto merged = store.merged({indexedSame, indexedStale, indexedKeyed, plain, plainB});
    EXPECT_EQ(merged.count(indexedSame), 0) << "hidden by the exhibition photo of the same file";
    EXPECT_EQ(merged.count(indexedStale), 1) << "exhibition photo no longer matches: both listed";
    EXPECT_EQ(merged.count(indexedKeyed), 0) << "same record key";
    ASSERT_EQ(merged.size(), 6);
    EXPECT_EQ(merged.first(), keyed.photo) << "added descending";
    EXPECT_LT(merged.indexOf(plainB), merged.indexOf(plain)) << "then by path";

    Photo otherBirth = keyed.photo;
    otherBirth.created = 501.0;
    EXPECT_FALSE(store.contains(otherBirth)) << "another file birth under the same key";
    const QByteArray before = readFile(exhibitionFile());
    EXPECT_TRUE(store.remove({otherBirth}).ok());
    EXPECT_EQ(readFile(exhibitionFile()), before);
    ASSERT_TRUE(store.remove({keyed.photo}).ok());
    EXPECT_EQ(decodeExhibition(readFile(exhibitionFile())).value(), store.references());
    EXPECT_EQ(store.references().size(), 2);

    ASSERT_TRUE(QFile::remove(exhibitionFile()));
    ASSERT_TRUE(QDir().mkpath(exhibitionFile() + "/blocker"));
    EXPECT_FALSE(store.remove({stale.photo}).ok());
    EXPECT_EQ(store.references().size(), 2) << "a write that fails keeps the references";
}

TEST(ExhibitionStore, PrepareMakesOneReferencePerImageFile) {
    const QString folder = makeFolder("drop");
    saveImage(makeImage(8, 6), folder + "/a.jpg");
    saveImage(makeImage(8, 6), folder + "/UPPER.JPG");
    writeFile(folder + "/notes.txt", "text");
    QDir().mkpath(folder + "/folder.jpg");
    ASSERT_EQ(link(QFile::encodeName(folder + "/a.jpg"), QFile::encodeName(folder + "/hard.jpg")), 0);
    ASSERT_TRUE(QFile::link(folder + "/a.jpg", folder + "/link.jpg"));
    const QString library = folder + "/Lib.photoslibrary/originals";
    QDir().mkpath(library);
    saveImage(makeImage(8, 6), library + "/p.jpg");
    saveImage(makeImage(8, 6), folder + "/origin.jpg");

    Clock::setOverride([] { return 5000.0; });
    ExhibitionStore store(storageFolder());
    const PhotosOrigin origin{"LOCAL-1", "/lib"};
    const auto refs = store.prepare({folder + "/./a.jpg", folder + "/hard.jpg", folder + "/notes.txt",
                                     folder + "/folder.jpg", folder + "/link.jpg", folder + "/missing.jpg",
                                     library + "/p.jpg", folder + "/origin.jpg", QString()},
                                    {}, {{folder + "/origin.jpg", origin}});
    Clock::setOverride({});
    ASSERT_EQ(refs.size(), 3);
    const Photo& a = refs[0].photo;
    EXPECT_EQ(a.path, folder + "/a.jpg") << "standardized; the hard link is the same file";
    EXPECT_EQ(a.id, currentIdentity(folder + "/a.jpg")->usageID) << "volume UUID form";
    EXPECT_EQ(a.usageID, a.id);
    EXPECT_EQ(a.source, "展览");
    EXPECT_EQ(a.added, 5000.0);
    EXPECT_EQ(a.thumbnail, storageFolder() + "/exhibition-thumbnails/" + a.id + ".jpg");
    EXPECT_EQ(Bookmark::resolve(refs[0].bookmark)->path, a.path);
    EXPECT_EQ(refs[1].photo.source, "照片.app") << "inside a library package";
    EXPECT_EQ(refs[2].photo.source, "照片.app");
    EXPECT_EQ(refs[2].photo.photosOrigin, origin);

    // Through the index: its renderer writes a real JPEG thumbnail.
    Indexer indexer({}, storageFolder());
    const auto viaIndex = store.prepare({folder + "/UPPER.JPG"}, indexer);
    ASSERT_EQ(viaIndex.size(), 1);
    EXPECT_EQ(QImage(viaIndex[0].photo.thumbnail).size(), QSize(8, 6));

    // Re-preparing an exhibition item keeps its added date and origin.
    writeExhibition({refs[2]});
    const auto again = ExhibitionStore(storageFolder()).prepare({folder + "/origin.jpg"}, {});
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0].photo.added, 5000.0);
    EXPECT_EQ(again[0].photo.photosOrigin, origin);

    EXPECT_TRUE(ExhibitionStore::isImageFile(folder + "/UPPER.JPG"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(folder + "/folder.jpg")) << "not a regular file";
    EXPECT_EQ(ExhibitionStore::failure("没有可挂上的照片。"),
              Error::make("Vennimo.Exhibition", 1, "没有可挂上的照片。"));
}
