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

#include <cstdio>
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
    p.source = "桌面";
    p.added = added;
    return p;
}

// A real exhibition item for a file, written to "exhibition.json".
ExhibitionReference prepared(const QString& path) {
    ExhibitionStore store(storageFolder());
    auto refs = store.prepare({path}, {});
    EXPECT_EQ(refs.size(), 1) << path.toStdString();
    return refs.value(0);
}

void writeExhibition(const QList<ExhibitionReference>& refs) {
    ExhibitionReferences map;
    for (const auto& r : refs)
        map.insert(r.photo.recordKey(), r);
    ASSERT_TRUE(JsonFile::writeAtomically(exhibitionFile(), encodeExhibition(map)).ok());
}

QStringList paths(const QList<Photo>& photos) {
    QStringList result;
    for (const Photo& p : photos)
        result << p.path;
    return result;
}

} // namespace

TEST(ExhibitionStore, EmptyWithoutFileAndBrokenByABadFile) {
    {
        ExhibitionStore store(storageFolder());
        EXPECT_TRUE(store.references().isEmpty());
        EXPECT_FALSE(store.loadError().has_value());
        const QList<Photo> indexed{photoAt("/b.jpg", 5), photoAt("/a.jpg", 5), photoAt("/c.jpg", 9)};
        EXPECT_EQ(paths(store.merged(indexed)), (QStringList{"/c.jpg", "/a.jpg", "/b.jpg"}))
            << "added descending, then path";
    }
    const QByteArray garbage = R"({"k": {"bookmark": "@@", "photo": {}}})";
    writeFile(exhibitionFile(), garbage);
    ExhibitionStore store(storageFolder());
    ASSERT_TRUE(store.loadError().has_value());
    EXPECT_TRUE(store.loadError()->startsWith(QStringLiteral("展览记录无法读取：")))
        << store.loadError()->toStdString();
    EXPECT_TRUE(store.references().isEmpty());

    EXPECT_TRUE(store.remove({photoAt("/a.jpg", 1)}).ok())
        << "nothing to remove is no error, even when broken";
    EXPECT_EQ(readFile(exhibitionFile()), garbage) << "a broken file is never rewritten";
}

TEST(ExhibitionStore, LoadFollowsRenamedFilesAndKeepsLostOnes) {
    const QString folder = makeFolder("pictures");
    saveImage(makeImage(8, 6), folder + "/kept.jpg");
    saveImage(makeImage(8, 6), folder + "/renamed.jpg");
    saveImage(makeImage(8, 6), folder + "/deleted.jpg");
    const auto kept = prepared(folder + "/kept.jpg");
    const auto renamed = prepared(folder + "/renamed.jpg");
    const auto deleted = prepared(folder + "/deleted.jpg");
    writeExhibition({kept, renamed, deleted});
    ASSERT_EQ(
        std::rename(QFile::encodeName(folder + "/renamed.jpg"), QFile::encodeName(folder + "/new name.jpg")),
        0);
    ASSERT_TRUE(QFile::remove(folder + "/deleted.jpg"));

    const int scopesBefore = Bookmark::openAccessCount();
    {
        ExhibitionStore store(storageFolder());
        ASSERT_FALSE(store.loadError().has_value());
        ASSERT_EQ(store.references().size(), 3) << "loading never drops an entry";
        EXPECT_EQ(store.references().value(kept.photo.recordKey()), kept);
        const Photo found = store.references().value(renamed.photo.recordKey()).photo;
        EXPECT_EQ(found.path, folder + "/new name.jpg");
        EXPECT_TRUE(originalIdentityMatches(found));
        EXPECT_EQ(store.references().value(deleted.photo.recordKey()), deleted) << "stays as stored";
        EXPECT_EQ(Bookmark::openAccessCount(), scopesBefore + 2) << "access held for the files it reopened";

        const auto merged = store.merged({});
        EXPECT_EQ(merged.size(), 3) << "a lost file is still listed";
    }
    EXPECT_EQ(Bookmark::openAccessCount(), scopesBefore) << "released with the store";
}

TEST(ExhibitionStore, MergedHidesIndexedPhotosByKeyOrByMatchingFile) {
    const QString folder = makeFolder("merge");
    saveImage(makeImage(8, 6), folder + "/same.jpg");
    saveImage(makeImage(8, 6), folder + "/stale.jpg");
    auto same = prepared(folder + "/same.jpg");
    auto stale = prepared(folder + "/stale.jpg");
    stale.photo.created = stale.photo.created.value_or(0) + 50; // no longer that file's birth
    stale.photo.usageID = "STALE-1";
    auto keyed = same;
    keyed.photo.id = keyed.photo.id + "0";
    keyed.photo.usageID = "SHARED-KEY";
    keyed.photo.path = "/nowhere/keyed.jpg";
    keyed.photo.created = 500.0;
    writeExhibition({same, stale, keyed});

    ExhibitionStore store(storageFolder());
    Photo indexedSame = photoAt(folder + "/same.jpg", 1);
    Photo indexedStale = photoAt(folder + "/stale.jpg", 1);
    Photo indexedKeyed = photoAt("/elsewhere/x.jpg", 1);
    indexedKeyed.usageID = "SHARED-KEY";
    Photo plain = photoAt("/elsewhere/plain.jpg", 1);
    const auto merged = store.merged({indexedSame, indexedStale, indexedKeyed, plain});
    EXPECT_EQ(merged.count(indexedSame), 0) << "hidden by the exhibition photo of the same file";
    EXPECT_EQ(merged.count(indexedStale), 1) << "exhibition photo no longer matches: both listed";
    EXPECT_EQ(merged.count(indexedKeyed), 0) << "same record key";
    EXPECT_EQ(merged.count(plain), 1);
    EXPECT_EQ(merged.size(), 5);

    EXPECT_TRUE(store.contains(same.photo));
    Photo probe = indexedKeyed;
    probe.created = 500.0;
    EXPECT_TRUE(store.contains(probe));
    probe.created = 501.0;
    EXPECT_FALSE(store.contains(probe)) << "another file birth under the same key";
    probe.created.reset();
    EXPECT_TRUE(store.contains(probe));
}

TEST(ExhibitionStore, RemoveWritesOnlyWhatItRemoves) {
    const QString folder = makeFolder("remove");
    saveImage(makeImage(8, 6), folder + "/a.jpg");
    saveImage(makeImage(8, 6), folder + "/b.jpg");
    auto a = prepared(folder + "/a.jpg");
    auto b = prepared(folder + "/b.jpg");
    a.photo.created = 1000.0;
    b.photo.created = 2000.0;
    writeExhibition({a, b});
    ExhibitionStore store(storageFolder());
    ASSERT_EQ(store.references().size(), 2);

    Photo otherBirth = a.photo;
    otherBirth.created = 1001.0;
    const QByteArray before = readFile(exhibitionFile());
    EXPECT_TRUE(store.remove({otherBirth}).ok());
    EXPECT_EQ(store.references().size(), 2) << "1 s apart is another file";
    EXPECT_EQ(readFile(exhibitionFile()), before);

    ASSERT_TRUE(store.remove({a.photo}).ok());
    EXPECT_EQ(store.references().keys(), QList<QString>{b.photo.recordKey()});
    EXPECT_EQ(decodeExhibition(readFile(exhibitionFile())).value(), store.references());
    EXPECT_TRUE(QFile::exists(folder + "/a.jpg")) << "the file itself stays";

    // A write that fails keeps the references.
    ASSERT_TRUE(QFile::remove(exhibitionFile()));
    ASSERT_TRUE(QDir().mkpath(exhibitionFile() + "/blocker"));
    auto failed = store.remove({b.photo});
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(store.references().size(), 1);
    QDir(exhibitionFile()).removeRecursively();
}

TEST(ExhibitionStore, PrepareMakesOneReferencePerImageFile) {
    const QString folder = makeFolder("drop");
    saveImage(makeImage(8, 6), folder + "/a.jpg");
    saveImage(makeImage(8, 6), folder + "/UPPER.JPG");
    writeFile(folder + "/notes.txt", "text");
    writeFile(folder + "/fake.png.txt", "text");
    QDir().mkpath(folder + "/folder.jpg");
    ASSERT_EQ(link(QFile::encodeName(folder + "/a.jpg"), QFile::encodeName(folder + "/hard.jpg")), 0);
    ASSERT_EQ(symlink(QFile::encodeName(folder + "/a.jpg"), QFile::encodeName(folder + "/link.jpg")), 0);
    const QString library = folder + "/Lib.photoslibrary/originals";
    QDir().mkpath(library);
    saveImage(makeImage(8, 6), library + "/p.jpg");
    saveImage(makeImage(8, 6), folder + "/origin.jpg");

    Clock::setOverride([] { return 5000.0; });
    QStringList thumbnailCalls;
    ExhibitionStore store(storageFolder());
    const PhotosOrigin origin{"LOCAL-1", "/lib"};
    const auto refs = store.prepare({folder + "/./a.jpg", folder + "/hard.jpg", folder + "/UPPER.JPG",
                                     folder + "/notes.txt", folder + "/fake.png.txt", folder + "/folder.jpg",
                                     folder + "/link.jpg", folder + "/missing.jpg", library + "/p.jpg",
                                     folder + "/origin.jpg", QString()},
                                    [&](const QString& source, const QString& target) {
                                        thumbnailCalls << source;
                                        saveImage(makeImage(4, 3), target);
                                    },
                                    {{folder + "/origin.jpg", origin}});
    Clock::setOverride({});
    ASSERT_EQ(refs.size(), 4);
    EXPECT_EQ(refs[0].photo.path, folder + "/a.jpg") << "standardized; the hard link is the same file";
    EXPECT_EQ(refs[1].photo.path, folder + "/UPPER.JPG");
    EXPECT_EQ(refs[2].photo.path, library + "/p.jpg");
    EXPECT_EQ(refs[3].photo.path, folder + "/origin.jpg");
    EXPECT_EQ(thumbnailCalls.size(), 4);

    const Photo& a = refs[0].photo;
    const auto identity = currentIdentity(folder + "/a.jpg");
    EXPECT_EQ(a.id, identity->usageID) << "volume UUID form";
    EXPECT_EQ(a.usageID, a.id);
    EXPECT_EQ(a.source, "展览");
    EXPECT_EQ(a.added, 5000.0);
    EXPECT_EQ(a.size, QFileInfo(folder + "/a.jpg").size());
    EXPECT_EQ(a.thumbnail, storageFolder() + "/exhibition-thumbnails/" + a.id + ".jpg");
    EXPECT_TRUE(QFile::exists(a.thumbnail));
    EXPECT_FALSE(a.thumbnailModified.has_value());
    EXPECT_FALSE(a.sourceRoot.has_value());
    EXPECT_EQ(a.baselineImported, false);
    EXPECT_TRUE(originalIdentityMatches(a));
    EXPECT_EQ(Bookmark::resolve(refs[0].bookmark)->path, a.path);

    EXPECT_EQ(refs[2].photo.source, "照片.app") << "inside a library package";
    EXPECT_FALSE(refs[2].photo.photosOrigin.has_value());
    EXPECT_EQ(refs[3].photo.source, "照片.app");
    EXPECT_EQ(refs[3].photo.photosOrigin, origin);

    // Through the index: its renderer writes a real JPEG thumbnail.
    {
        Indexer indexer({}, storageFolder());
        const auto viaIndex = store.prepare({folder + "/UPPER.JPG"}, indexer);
        ASSERT_EQ(viaIndex.size(), 1);
        const QImage thumbnail(viaIndex[0].photo.thumbnail);
        EXPECT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), QSize(8, 6));
    }

    // Re-preparing an exhibition item keeps its added date and origin.
    writeExhibition({refs[3]});
    ExhibitionStore again(storageFolder());
    const auto second = again.prepare({folder + "/origin.jpg"}, {});
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second[0].photo.added, 5000.0);
    EXPECT_EQ(second[0].photo.photosOrigin, origin);
}

TEST(ExhibitionStore, ImageFileRuleNeedsARegularFile) {
    const QString folder = makeFolder("rule");
    writeFile(folder + "/a.heic", "x");
    writeFile(folder + "/b.Png", "x");
    writeFile(folder + "/c.txt", "x");
    QDir().mkpath(folder + "/d.jpg");
    const Error error = ExhibitionStore::failure("没有可挂上的照片。");
    EXPECT_EQ(error, Error::make("Vennimo.Exhibition", 1, "没有可挂上的照片。"));
    EXPECT_TRUE(ExhibitionStore::isImageFile(folder + "/a.heic"));
    EXPECT_TRUE(ExhibitionStore::isImageFile(folder + "/b.Png"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(folder + "/c.txt"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(folder + "/d.jpg"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(folder + "/missing.jpg"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(QString()));
}
