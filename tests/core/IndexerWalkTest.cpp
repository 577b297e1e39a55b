#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/Error.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::storageFolder;
using vennimo::test::writeFile;

namespace {

struct Outcome {
    QList<Photo> photos;
    QStringList errors;
    int visited = 0;
    std::optional<QStringList> pending;
};

// A first scan of the roots. With inline thumbnails (a renderer that makes none, so the records
// are alike) the folders are listed one after the other; without, side by side.
Outcome firstScan(const QList<SourceRoot>& roots, bool oneByOne,
                  const std::function<int(const QString&)>& fault) {
    QFile::remove(storageFolder() + "/index.json");
    Indexer indexer(roots, storageFolder());
    indexer.setFolderOpenFaultForTesting(fault);
    indexer.setThumbnailRenderer([](const QString&, const QString&) {});
    Outcome outcome;
    outcome.photos = indexer.scan(std::nullopt, oneByOne);
    outcome.errors = indexer.errors();
    outcome.visited = indexer.lastScanVisitedEntries();
    outcome.pending = indexer.library().pendingBaselineRoots;
    return outcome;
}

void link(const QString& from, const QString& to) {
    ASSERT_EQ(::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0);
}

} // namespace

// Hard links give one file several paths, and the one the walk meets last is the one kept; errors
// are shown in the order met. A walk over several threads must meet everything as one thread does.
TEST(IndexerWalk, FoldersListedSideBySideGiveWhatAWalkOnOneThreadGives) {
    Clock::setOverride([] { return 2'000'000'000.0; });
    const QString root = makeFolder("walk");
    const QString nested = root + "/嵌套 \"root\"";
    for (int a = 0; a < 6; ++a) {
        for (int b = 0; b < 5; ++b) {
            const QString folder = QString("%1/f%2/g%3").arg(root).arg(a).arg(b);
            ASSERT_TRUE(QDir().mkpath(folder + "/empty"));
            for (int c = 0; c < 4; ++c)
                writeFile(QString("%1/%2 图片'%3.jpg").arg(folder).arg(c).arg(a * 100 + b), "x");
        }
    }
    ASSERT_TRUE(QDir().mkpath(nested + "/inner"));
    writeFile(nested + "/inner/n.png", "n");
    writeFile(root + "/top.gif", "t");
    writeFile(root + "/f0/note.txt", "not a picture");
    for (int b = 0; b < 5; ++b)
        link(root + "/top.gif", QString("%1/f%2/g%3/linked.gif").arg(root).arg(5 - b).arg(b));
    writeFile(root + "/f1/.hidden.jpg", "h");
    writeFile(root + "/f2/x.app/inside.jpg", "p");
    // Names no text path can name: a picture and a folder.
    const QByteArray bad = QFile::encodeName(root + "/f3/g0/") + "\xff\xfe.jpg";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir((QFile::encodeName(root + "/f4/") + "\xfe").constData(), 0755), 0);

    const QList<SourceRoot> roots{{"下载", root}, {"Nested", nested}};
    const auto fault = [&root](const QString& folder) {
        return folder.endsWith("/g2") && !folder.startsWith(root + "/f0") ? EACCES
               : folder.endsWith("/f5/g4/empty")                          ? EIO
                                                                          : 0;
    };
    for (const auto& faultOf :
         {std::function<int(const QString&)>{}, std::function<int(const QString&)>(fault)}) {
        const Outcome expected = firstScan(roots, true, faultOf);
        ASSERT_GT(expected.photos.size(), 90);
        EXPECT_EQ(expected.errors.size(), faultOf ? 8 : 2) << expected.errors.join('\n').toStdString();
        for (int run = 0; run < 10; ++run) {
            const Outcome walked = firstScan(roots, false, faultOf);
            ASSERT_EQ(walked.photos, expected.photos) << "run " << run;
            ASSERT_EQ(walked.errors, expected.errors) << "run " << run;
            ASSERT_EQ(walked.visited, expected.visited) << "run " << run;
            ASSERT_EQ(walked.pending, expected.pending) << "run " << run;
        }
    }
    // An unreadable root and a root that is a file.
    const QString file = root + "/top.gif";
    const Outcome expected = firstScan({{"File", file}}, true, {});
    EXPECT_EQ(firstScan({{"File", file}}, false, {}).errors, expected.errors);
    const auto refuseAll = [](const QString&) { return EACCES; };
    const Outcome refused = firstScan(roots, false, refuseAll);
    EXPECT_EQ(refused.errors, firstScan(roots, true, refuseAll).errors);
    EXPECT_EQ(refused.errors.size(), 2);
    EXPECT_TRUE(refused.errors.contains("无法读取下载"));
    Clock::setOverride({});
}
