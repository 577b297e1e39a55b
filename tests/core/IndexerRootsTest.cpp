#include "core/Indexer.h"
#include "core/SourceRootIndex.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::storageFolder;
using vennimo::test::writeFile;

namespace {

int firstHolding(const QList<SourceRoot>& roots, const QString& path) {
    for (int i = 0; i < roots.size(); ++i) {
        if (pathIsWithin(path, roots[i].path))
            return i;
    }
    return -1;
}

const Photo* photoAt(const QList<Photo>& photos, const QString& path) {
    for (const Photo& photo : photos) {
        if (photo.path == path)
            return &photo;
    }
    return nullptr;
}

} // namespace

// The look-up must name the root a pass over the roots names, whatever the spelling.
TEST(SourceRootIndex, NamesTheRootAPassOverTheRootsNames) {
    const QList<SourceRoot> lists[] = {
        {{"", "/a/b/c"},
         {"", "/a/bc"},
         {"", "/a/b"},
         {"", "/a"},
         {"", "/z/"},
         {"", "/var/x"},
         {"", "/private/var/x"}},
        // Unsorted, a later duplicate key, the file system root, a path never cleaned, a relative one.
        {{"", "/a"},
         {"", "/private/var/x"},
         {"", "/a/b"},
         {"", "/var/x"},
         {"", "/m//"},
         {"", "rel/p"},
         {"", "/"}},
        {{"", ""}, {"", "/a/b"}},
        {},
    };
    const QStringList paths{"/a",
                            "/a/",
                            "/a/b",
                            "/a/bc",
                            "/a/bcd/e.jpg",
                            "/a/b/c/d.jpg",
                            "/a/b/cd.jpg",
                            "/a/bc/d.jpg",
                            "/ab",
                            "/a//b/x",
                            "/z",
                            "/z/y.jpg",
                            "/zz",
                            "/var/x/y.jpg",
                            "/private/var/x/y",
                            "/var/xy",
                            "/m",
                            "/m/",
                            "/m//n",
                            "rel/p/q",
                            "rel/pq",
                            "/rel/p/q",
                            "",
                            "/",
                            "/other/x.jpg"};
    for (const QList<SourceRoot>& roots : lists) {
        const SourceRootIndex index(roots);
        for (const QString& path : paths)
            EXPECT_EQ(index.owner(path), firstHolding(roots, path))
                << path.toStdString() << " among " << roots.size() << " roots";
    }
}

// Hundreds of roots, side by side and inside each other, some new and awaiting their baseline: each
// file goes to its deepest root, the new roots' files keep their own dates, files that came to the
// other roots are arrivals, and a place awaiting its baseline lends it to no folder whose name
// merely begins like its own.
TEST(IndexerRoots, ManyNestedAndSideBySideRootsEachSettleTheirOwnBaseline) {
    double now = 2'000'000'000;
    Clock::setOverride([&now] { return now; });
    const QString top = makeFolder("roots");
    QList<SourceRoot> roots{{"A", top + "/a"}, {"BC", top + "/a/bc"}, {"R", top + "/r"}};
    for (int i = 0; i < 200; ++i)
        roots.append({QString("S%1").arg(i), QString("%1/s/%2").arg(top).arg(i)});
    for (const SourceRoot& root : roots)
        writeFile(root.path + "/old.jpg", "old");
    writeFile(top + "/r/locked/l.jpg", "l");
    QFile::remove(storageFolder() + "/index.json");
    Indexer indexer(roots, storageFolder());
    QString locked = top + "/r/locked";
    indexer.setFolderOpenFaultForTesting(
        [&locked](const QString& folder) { return folder == locked ? EACCES : 0; });
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), roots.size());
    ASSERT_EQ(indexer.library().pendingBaselineRoots, QStringList{locked});

    // New roots: one inside "a" whose name begins like "bc", one inside it, and 200 more side by
    // side with the old ones, every other one unreadable for now.
    now += 100;
    QList<SourceRoot> added{{"B", top + "/a/b"}, {"C", top + "/a/b/c"}};
    for (int i = 200; i < 400; ++i)
        added.append({QString("S%1").arg(i), QString("%1/s/%2").arg(top).arg(i)});
    for (const SourceRoot& root : added)
        writeFile(root.path + "/kept.jpg", "kept");
    writeFile(top + "/a/b/c/deep/d.jpg", "d");
    for (const QString& arrival : {top + "/a/bc/new.jpg", top + "/a/b-side/new.jpg",
                                   top + "/r/locked-2/new.jpg", top + "/s/7/new.jpg", top + "/s/7-x/new.jpg"})
        writeFile(arrival, "new");
    const auto unreadable = [&top](const QString& folder) {
        const QString prefix = top + "/s/";
        return folder.startsWith(prefix) && folder.mid(prefix.size()).toInt() >= 200 &&
               folder.mid(prefix.size()).toInt() % 2 == 1 && !folder.mid(prefix.size()).contains('/');
    };
    indexer.setFolderOpenFaultForTesting(
        [&](const QString& folder) { return folder == locked || unreadable(folder) ? EACCES : 0; });
    indexer.reconfigure(roots + added);
    const QList<Photo> photos = indexer.scan(std::nullopt, false);

    for (const SourceRoot& root : added) {
        if (unreadable(root.path))
            continue;
        const Photo* photo = photoAt(photos, root.path + "/kept.jpg");
        ASSERT_TRUE(photo) << root.path.toStdString();
        const auto file = FileIdentity::read(photo->path).value();
        EXPECT_EQ(photo->added, file.created.value_or(file.modified)) << root.path.toStdString();
        EXPECT_EQ(photo->baselineImported, true) << root.path.toStdString();
        EXPECT_EQ(photo->source, root.name);
    }
    const Photo* deep = photoAt(photos, top + "/a/b/c/deep/d.jpg");
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->source, "C") << "the deepest root owns a path";
    EXPECT_EQ(deep->baselineImported, true);
    for (const QString& arrival :
         {top + "/a/bc/new.jpg", top + "/a/b-side/new.jpg", top + "/r/locked-2/new.jpg", top + "/s/7/new.jpg",
          top + "/s/7-x/new.jpg"}) {
        const Photo* photo = photoAt(photos, arrival);
        if (arrival.contains("/s/7-x/")) {
            EXPECT_FALSE(photo) << "no root holds it";
            continue;
        }
        ASSERT_TRUE(photo) << arrival.toStdString();
        EXPECT_EQ(photo->added, now) << arrival.toStdString();
        EXPECT_EQ(photo->baselineImported, false) << arrival.toStdString();
    }
    EXPECT_EQ(photoAt(photos, top + "/a/b-side/new.jpg")->source, "A");
    EXPECT_EQ(photoAt(photos, top + "/a/bc/new.jpg")->source, "BC");

    // What could not be read still awaits its baseline, and nothing else does.
    QStringList pending{locked};
    for (const SourceRoot& root : added) {
        if (unreadable(root.path))
            pending.append(root.path);
    }
    pending.sort();
    EXPECT_EQ(indexer.library().pendingBaselineRoots, pending);
    EXPECT_EQ(pending.size(), 101);

    // Readable later: the rest joins the baseline with its own dates.
    now += 100;
    locked.clear();
    indexer.setFolderOpenFaultForTesting({});
    const QList<Photo> later = indexer.scan(std::nullopt, false);
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{});
    for (const QString& path : pending) {
        const QString file = path + (path.endsWith("/locked") ? "/l.jpg" : "/kept.jpg");
        const Photo* photo = photoAt(later, file);
        ASSERT_TRUE(photo) << file.toStdString();
        EXPECT_EQ(photo->baselineImported, true) << file.toStdString();
        EXPECT_NE(photo->added, now) << file.toStdString();
    }
    Clock::setOverride({});
}
