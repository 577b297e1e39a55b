#include "DropTestHelpers.h"

#include "dragdrop/PromiseDirectory.h"
#include "dragdrop/PromisedImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;

namespace {

// Keeps the drop folders of this test inside its own temporary home.
void useOwnTemporaryFolder() {
    qputenv("TMPDIR", QFile::encodeName(makeFolder(QStringLiteral("tmp"))));
}

std::shared_ptr<PromisedImage> promise(QStringList names, FakePromiseReceiver::Script script,
                                       std::shared_ptr<PromiseDirectory> directory = {}) {
    if (!directory)
        directory = PromiseDirectory::create().value();
    return std::make_shared<PromisedImage>(
        std::make_shared<FakePromiseReceiver>(std::move(names), std::move(script)), directory);
}

} // namespace

TEST(DropPromise, CompletesWhenEveryAnnouncedFileWasReported) {
    useOwnTemporaryFolder();
    FilePromiseReceiver::Reader later;
    QString folder;
    auto image = promise({QStringLiteral("a.png"), QStringLiteral("b.png"), QStringLiteral("c.png")},
                         [&](const QString& directory, FilePromiseReceiver::Reader reader) {
                             folder = directory;
                             // Reported before the promise knows it expects three: must not count
                             // as complete.
                             writeFile(directory + QStringLiteral("/a.png"), pngBytes(2, 2));
                             reader(directory + QStringLiteral("/a.png"));
                             later = reader;
                         });
    std::this_thread::sleep_for(20ms);
    later(Error::failure(QStringLiteral("second failed")));
    writeFile(folder + QStringLiteral("/c.png"), pngBytes(3, 3));
    later(folder + QStringLiteral("/c.png"));
    const auto outcome = image->take(5s);
    EXPECT_FALSE(outcome.timedOut);
    ASSERT_EQ(outcome.data.size(), 2);
    EXPECT_EQ(outcome.data[0], pngBytes(2, 2));
    EXPECT_EQ(outcome.data[1], pngBytes(3, 3));
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->message, QStringLiteral("second failed"));

    // Both delivered files are saved; the promise's one failure does not fail the item.
    auto again = promise({QStringLiteral("a.png"), QStringLiteral("b.png")},
                         [](const QString& directory, FilePromiseReceiver::Reader reader) {
                             writeFile(directory + QStringLiteral("/a.png"), pngBytes(4, 4));
                             writeFile(directory + QStringLiteral("/b.png"), "not an image");
                             reader(directory + QStringLiteral("/a.png"));
                             reader(directory + QStringLiteral("/b.png"));
                         });
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items.append({ExternalImageDrop::Source::fromPromise(again)});
    const auto result = materializeOffMain(snapshot, storageFolder());
    EXPECT_EQ(result.paths.size(), 1);
    EXPECT_EQ(result.failures, 0);
}

TEST(DropPromise, FailuresAndTimeOutsFallThroughToTheNextAlternative) {
    useOwnTemporaryFolder();
    const QString storage = storageFolder();
    auto silent = promise({}, [](const QString&, FilePromiseReceiver::Reader) {});
    auto declined =
        promise({QStringLiteral("x.png")}, [](const QString&, FilePromiseReceiver::Reader reader) {
            reader(Error::failure(QStringLiteral("来源应用没有生成图片文件。")));
        });
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items.append({ExternalImageDrop::Source::fromPromise(silent)});
    snapshot.items.append(
        {ExternalImageDrop::Source::fromPromise(declined), ExternalImageDrop::Source::fromBytes(pngBytes())});
    ExternalImageDrop::ImportOptions options;
    options.promiseWait = 50ms;
    const auto result = materializeOffMain(snapshot, storage, options);
    EXPECT_EQ(result.paths.size(), 1) << "the declined promise falls back to the bytes";
    EXPECT_EQ(result.failures, 1);
    EXPECT_EQ(result.detail, QStringLiteral("等待来源应用提供图片超时，请重新拖入。"));

    // Nothing announced: one report completes the promise, and a report with no file and no
    // reason has its own message.
    auto nameless = promise({}, [](const QString&, FilePromiseReceiver::Reader reader) {
        reader(vennimo::Result<QString>(Error::failure(QStringLiteral("x"))));
    });
    EXPECT_FALSE(nameless->take(5s).timedOut);
    ExternalImageDrop::Snapshot empty;
    empty.items.append({ExternalImageDrop::Source::fromPromise(
        promise({}, [](const QString& directory, FilePromiseReceiver::Reader reader) {
            writeFile(directory + QStringLiteral("/n.png"), "junk");
            reader(directory + QStringLiteral("/n.png"));
        }))});
    EXPECT_EQ(materializeOffMain(empty, storage).detail,
              QStringLiteral("来源应用没有提供可读取的图片文件。"));
}

TEST(DropPromise, ReaderRefusesFilesOutsideTheFolder) {
    useOwnTemporaryFolder();
    const QString outside = makeFolder(QStringLiteral("elsewhere")) + QStringLiteral("/secret.png");
    writeFile(outside, pngBytes());
    auto image = promise({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                         [&](const QString& directory, FilePromiseReceiver::Reader reader) {
                             QFile::link(outside, directory + QStringLiteral("/link.png"));
                             reader(directory + QStringLiteral("/link.png"));
                             reader(outside);
                             reader(directory + QStringLiteral("/../../elsewhere/secret.png"));
                         });
    const auto outcome = image->take(5s);
    EXPECT_TRUE(outcome.data.isEmpty());
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->message, QStringLiteral("来源返回了接收目录外的文件。"));

    const auto directory = PromiseDirectory::create().value();
    const QString folder = directory->path();
    EXPECT_EQ(ExternalImageDrop::readPromisedFile(folder, folder).error().message,
              QStringLiteral("来源返回了接收目录外的文件。"))
        << "the folder itself is not a file in it";
}

TEST(DropPromise, LateFilesAreIgnoredAndTheFolderGoesWithItsLastHolder) {
    useOwnTemporaryFolder();
    FilePromiseReceiver::Reader keep;
    QString folder;
    auto image =
        promise({QStringLiteral("late.png")}, [&](const QString& directory, FilePromiseReceiver::Reader r) {
            folder = directory;
            keep = std::move(r);
        });
    EXPECT_TRUE(image->take(20ms).timedOut);
    writeFile(folder + QStringLiteral("/late.png"), pngBytes());
    keep(folder + QStringLiteral("/late.png"));
    EXPECT_TRUE(image->take(20ms).data.isEmpty()) << "finished promises take nothing more";
    EXPECT_TRUE(QFileInfo::exists(folder));
    image.reset();
    keep = nullptr;
    // The reader's pending task may still hold the folder for a moment.
    for (int i = 0; i < 100 && QFileInfo::exists(folder); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(QFileInfo::exists(folder));

    auto directory = PromiseDirectory::create();
    ASSERT_TRUE(directory.ok());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName((*directory)->path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(DropPromise, StaleDropFoldersAreRemovedAtStart) {
    useOwnTemporaryFolder();
    const QString base = QDir::tempPath();
    const QString stale = base + QStringLiteral("/vennimo-drop-OLD");
    writeFile(stale + QStringLiteral("/x.png"), "x");
    const QString unrelated = base + QStringLiteral("/other-OLD");
    QDir().mkpath(unrelated);
    for (const QString& path : {stale, unrelated}) {
        struct utimbuf old {};
        old.actime = old.modtime = time(nullptr) - 3600;
        ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &old), 0);
    }
    auto fresh = PromiseDirectory::create().value();
    EXPECT_EQ(PromiseDirectory::removeStale(), 1);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(unrelated));
    EXPECT_TRUE(QFileInfo::exists(fresh->path())) << "a drop in progress keeps its folder";
}
