#include "TrashFixture.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>

#include <random>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr int kPhotos = 20;
// Each description is synced before its file moves, so a delete of twenty takes a tenth of a
// second here; fifty kills keep the test near a quarter of a minute.
constexpr int kKills = 50;

struct CrashRun {
    QString folder;
    QString storage;
    QHash<QString, QByteArray> contents;
};

CrashRun prepareRun(int index) {
    CrashRun run;
    run.folder = makeFolder(QStringLiteral("crash-%1/Desktop").arg(index));
    run.storage = makeFolder(QStringLiteral("crash-%1/storage").arg(index));
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = run.folder + QStringLiteral("/p%1.png").arg(i);
        saveImage(makeImage(8 + i, 8), path);
        run.contents.insert(path, readFile(path));
    }
    return run;
}

// Original path -> the file the Trash holds for it, read from every description.
QHash<QString, QString> trashedFiles() {
    QHash<QString, QString> files;
    QDirIterator it(trashFolder() + "/info", {"*.trashinfo"}, QDir::Files);
    while (it.hasNext()) {
        const QString info = it.next();
        const QByteArray encoded = readFile(info);
        const qsizetype start = encoded.indexOf("\nPath=") + 6;
        const QByteArray path = encoded.mid(start, encoded.indexOf('\n', start) - start);
        const QString name = QFileInfo(info).completeBaseName();
        const QString file = trashFolder() + "/files/" + name;
        if (QFile::exists(file))
            files.insert(QUrl::fromPercentEncoding(path), file);
    }
    return files;
}

// Every photo is at its place or in the Trash with its description, and a fresh model lists
// exactly the files at their places.
int expectNothingLost(const CrashRun& run, int index) {
    const QHash<QString, QString> trashed = trashedFiles();
    int moved = 0;
    QSet<QString> present;
    for (auto it = run.contents.cbegin(); it != run.contents.cend(); ++it) {
        const bool inPlace = QFile::exists(it.key());
        const bool inTrash = trashed.contains(it.key());
        EXPECT_NE(inPlace, inTrash) << "run " << index << ": " << it.key().toStdString();
        if (inPlace)
            present.insert(it.key());
        if (inTrash) {
            EXPECT_EQ(readFile(trashed.value(it.key())), it.value()) << "run " << index;
            ++moved;
        }
    }
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{{"桌面", run.folder}}, run.storage),
                       false);
    model.refresh(std::nullopt, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.scanInFlight() && !model.scanning(); }, 10000));
    QSet<QString> listed;
    for (const Photo& photo : model.photos())
        listed.insert(photo.path);
    EXPECT_EQ(listed, present) << "run " << index;
    EXPECT_FALSE(model.lineError()) << "run " << index;
    EXPECT_FALSE(model.placementError()) << "run " << index;
    return moved;
}

QProcess* startChild(const CrashRun& run, long long delayMicroseconds) {
    auto* child = new QProcess;
    // Killed while a thumbnailer runs, it leaves that scratch folder behind: in the test home, which
    // goes with the test, not in the machine's temporary folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", makeFolder("child-temporary"));
    child->setProcessEnvironment(environment);
    child->start(VENNIMO_TRASH_CRASH_CHILD, {run.storage, run.folder, QString::number(delayMicroseconds)});
    return child;
}

} // namespace

TEST(TrashCrash, ADeleteKilledAnywhereLosesNoFile) {
    // One whole delete first, to learn how long it takes on this machine.
    const CrashRun calibration = prepareRun(-1);
    std::unique_ptr<QProcess> whole(startChild(calibration, -1));
    ASSERT_TRUE(whole->waitForFinished(20000));
    ASSERT_EQ(whole->exitCode(), 0) << whole->readAllStandardError().toStdString();
    const long long span = whole->readAllStandardOutput().trimmed().toLongLong();
    ASSERT_GT(span, 0);
    EXPECT_EQ(expectNothingLost(calibration, -1), kPhotos);

    std::mt19937 random(20261207);
    std::uniform_int_distribution<long long> delay(0, span + span / 4);
    QElapsedTimer clock;
    clock.start();
    int partial = 0;
    for (int i = 0; i < kKills; ++i) {
        QDir(trashFolder()).removeRecursively();
        const CrashRun run = prepareRun(i);
        std::unique_ptr<QProcess> child(startChild(run, delay(random)));
        ASSERT_TRUE(child->waitForFinished(20000));
        const int moved = expectNothingLost(run, i);
        if (moved > 0 && moved < kPhotos)
            ++partial;
        if (::testing::Test::HasFailure())
            break;
    }
    std::printf("%d kills in %.1f s, a delete takes %lld us; %d killed with the delete half done\n", kKills,
                clock.nsecsElapsed() / 1e9, span, partial);
    EXPECT_GT(partial, 0) << "some kills should land inside the delete";
}
