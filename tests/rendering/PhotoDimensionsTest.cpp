#include "rendering/PhotoDimensions.h"
#include "platform/WorkQueue.h"
#include "rendering/ImageReading.h"
#include "rendering/PhotoSizeFile.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include "RenderingTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;

// Reads headers as the application does, but only once let through, and notes on which threads.
struct GatedReader {
    std::mutex lock;
    QStringList paths;
    int mainThreadReads = 0;
    std::atomic<bool> open{false};

    GatedReader() {
        PhotoDimensions::clearCache();
        PhotoDimensions::setReaderForTesting([this](const QString& path) {
            {
                std::lock_guard guard(lock);
                paths.append(path);
                mainThreadReads += isMainThread() ? 1 : 0;
            }
            while (!open.load())
                std::this_thread::yield();
            return ImageReading::orientedPixelSize(path);
        });
    }
    ~GatedReader() {
        open = true;
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    }
    int reads(const QString& path) {
        std::lock_guard guard(lock);
        return int(paths.count(path));
    }
};

TEST(PhotoDimensions, TheMainThreadReadsNoHeaderAndLearnsEachSizeOnceFromTheQueue) {
    GatedReader reader;
    const QString folder = test::makeFolder(u"learned"_s);
    const Photo tall = test::writePhoto(folder, u"tall"_s, {30, 40});
    Photo broken = test::photoFor(folder + u"/broken.jpg"_s);
    test::writeFile(broken.path, QByteArray("\xFF\xD8\xFF\xFE\x00\x02", 6).repeated(1000));

    EXPECT_EQ(PhotoDimensions::imageSize(tall), QSizeF(4, 3)) << "an unknown size, answered at once";
    EXPECT_FALSE(PhotoDimensions::knownSize(tall));
    EXPECT_FALSE(PhotoDimensions::settled(tall));

    QObject receiver;
    auto gone = std::make_unique<QObject>();
    int tallCalls = 0, brokenCalls = 0, goneCalls = 0;
    EXPECT_TRUE(PhotoDimensions::learn(tall, &receiver, [&] { ++tallCalls; }));
    EXPECT_TRUE(PhotoDimensions::learn(tall, &receiver, [&] { ++tallCalls; }));
    EXPECT_TRUE(PhotoDimensions::learn(broken, &receiver, [&] { ++brokenCalls; }));
    EXPECT_TRUE(PhotoDimensions::learn(broken, gone.get(), [&] { ++goneCalls; }));
    test::settle();
    EXPECT_EQ(tallCalls + brokenCalls, 0) << "nothing is learned while the reads hang";
    EXPECT_EQ(PhotoDimensions::imageSize(tall), QSizeF(4, 3)) << "a hanging read holds no answer up";
    gone.reset();

    reader.open = true;
    ASSERT_TRUE(test::spinUntil([&] { return tallCalls == 2 && brokenCalls == 1; }));
    test::settle();
    EXPECT_EQ(goneCalls, 0) << "a receiver gone hears nothing";
    EXPECT_EQ(reader.reads(tall.path), 1) << "requests for one photo share one read";
    EXPECT_EQ(reader.mainThreadReads, 0);
    EXPECT_EQ(PhotoDimensions::imageSize(tall), QSizeF(30, 40));
    EXPECT_EQ(PhotoDimensions::knownSize(tall), QSizeF(30, 40));
    EXPECT_FALSE(PhotoDimensions::learn(tall, &receiver, [&] { ++tallCalls; })) << "settled";

    EXPECT_TRUE(PhotoDimensions::settled(broken));
    EXPECT_FALSE(PhotoDimensions::knownSize(broken));
    EXPECT_EQ(PhotoDimensions::imageSize(broken), QSizeF(4, 3));
    EXPECT_FALSE(PhotoDimensions::learn(broken, &receiver, [&] { ++brokenCalls; }))
        << "an unreadable file is not read again for every layout";

    // The same record with a new file is a new key, read again.
    test::saveImage(test::makeImage(50, 20), broken.path, 90);
    broken.size = 2;
    EXPECT_TRUE(PhotoDimensions::learn(broken, &receiver, [&] { ++brokenCalls; }));
    ASSERT_TRUE(test::spinUntil([&] { return brokenCalls == 2; }));
    EXPECT_EQ(PhotoDimensions::imageSize(broken), QSizeF(50, 20));
    EXPECT_EQ(reader.mainThreadReads, 0);
    test::settle();
    EXPECT_EQ(tallCalls, 2) << "each callback once";
}

// Reads every header at once, counting them; pictures named ".svg" only once let through, as the
// SVG helper of a costly picture keeps a read for a second.
struct CountingReader {
    std::mutex lock;
    QStringList paths;
    std::atomic<bool> svgOpen{true};

    CountingReader() {
        PhotoDimensions::clearCache();
        PhotoDimensions::setReaderForTesting([this](const QString& path) -> std::optional<QSize> {
            {
                std::lock_guard guard(lock);
                paths.append(path);
            }
            if (path.endsWith(u".svg"_s)) {
                while (!svgOpen.load())
                    std::this_thread::yield();
                return QSize(400, 300);
            }
            return ImageReading::orientedPixelSize(path);
        });
    }
    ~CountingReader() {
        svgOpen = true;
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    }
    int reads() {
        std::lock_guard guard(lock);
        return int(paths.size());
    }
    int reads(const QString& path) {
        std::lock_guard guard(lock);
        return int(paths.count(path));
    }
};

bool learnAll(const std::vector<Photo>& photos) {
    QObject receiver;
    int learned = 0;
    int asked = 0;
    for (const Photo& photo : photos)
        asked += PhotoDimensions::learn(photo, &receiver, [&] { ++learned; }) ? 1 : 0;
    return test::spinUntil([&] { return learned == asked; });
}

TEST(PhotoDimensions, SizesKeptInTheStorageFolderComeBackAtTheNextStartWithoutAReadAndOutliveNewThumbnails) {
    CountingReader reader;
    const QString storage = test::makeFolder(u"sizes-storage"_s);
    const QString sizes = storage + u"/picture-sizes.json"_s;
    const std::vector<Photo> photos = test::writePhotos(u"kept"_s, 3, {30, 40}, true);

    PhotoDimensions::restoreFrom(storage);
    ASSERT_TRUE(learnAll(photos));
    EXPECT_EQ(reader.reads(), 3);
    PhotoDimensions::flushStored();
    ASSERT_TRUE(QFile::exists(sizes)) << "learned sizes are written";

    // The next start: nothing in memory, the file read on its queue; flushing waits for that queue.
    PhotoDimensions::clearCache();
    PhotoDimensions::restoreFrom(storage);
    PhotoDimensions::flushStored();
    for (const Photo& photo : photos) {
        EXPECT_EQ(PhotoDimensions::knownSize(photo), QSizeF(30, 40)) << photo.path.toStdString();
        EXPECT_FALSE(PhotoDimensions::learn(photo, nullptr, {})) << "known before any read";
    }
    EXPECT_EQ(reader.reads(), 3) << "no header read again";

    // The indexer writes a new thumbnail: the print keeps the size its own file gave.
    Photo rethumbed = photos[0];
    rethumbed.thumbnail = photos[1].thumbnail;
    rethumbed.thumbnailModified = rethumbed.modified + 5;
    EXPECT_TRUE(PhotoDimensions::settled(rethumbed));
    EXPECT_EQ(PhotoDimensions::knownSize(rethumbed), QSizeF(30, 40));
    // A changed file is read again.
    Photo rewritten = photos[1];
    rewritten.size += 1;
    EXPECT_FALSE(PhotoDimensions::settled(rewritten));
    // A photo turned in place keeps its byte count: its time alone tells that the shape changed,
    // in memory and in the file of the next start.
    test::saveImage(test::makeImage(40, 30), photos[0].path, 90);
    Photo turned = photos[0];
    turned.modified += 60;
    EXPECT_FALSE(PhotoDimensions::settled(turned)) << "the turned photo keeps the shape it had";
    ASSERT_TRUE(learnAll({turned}));
    EXPECT_EQ(PhotoDimensions::knownSize(turned), QSizeF(40, 30));
    PhotoDimensions::flushStored();
    PhotoDimensions::clearCache();
    PhotoDimensions::restoreFrom(storage);
    PhotoDimensions::flushStored();
    EXPECT_EQ(PhotoDimensions::knownSize(turned), QSizeF(40, 30)) << "the next start has the old shape";

    // A damaged file is kept aside and replaced with what is learned next; entries that do not make
    // sense are left out of one that reads.
    for (const QByteArray& damage :
         {QByteArray("{\"sizes\": [[\"a|1.0|2\", 3, "), QByteArray("\x00\xFF garbage", 10),
          QByteArray(R"({"sizes": [["x|1.0|2", -3, 4], ["y|1.0|2", 1e12, 4], ["z|1.0|2", "3", 4], 7]})")}) {
        test::writeFile(sizes, damage);
        PhotoDimensions::clearCache();
        QFile::remove(sizes + u".corrupt"_s);
        PhotoDimensions::restoreFrom(storage);
        PhotoDimensions::flushStored();
        EXPECT_FALSE(PhotoDimensions::knownSize(photos[2])) << damage.toStdString();
        // What does not decode at all is kept for inspection before a save replaces it.
        QFile kept(sizes + u".corrupt"_s);
        if (!damage.startsWith(R"({"sizes": [["x)")) {
            EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == damage) << damage.toStdString();
        }
        ASSERT_TRUE(learnAll({photos[2]}));
        PhotoDimensions::flushStored();
        PhotoDimensions::clearCache();
        PhotoDimensions::restoreFrom(storage);
        PhotoDimensions::flushStored();
        EXPECT_EQ(PhotoDimensions::knownSize(photos[2]), QSizeF(30, 40)) << damage.toStdString();
        EXPECT_FALSE(PhotoDimensions::knownSize(photos[0])) << "what was damaged is read again";
    }

    // A well-formed entry for the photo is taken only with sides a picture can have: the photo
    // is read again rather than laid out flat or miles long.
    const QString photoKey = PhotoDimensions::fileKey(photos[2]);
    for (const QSize stored :
         {QSize(31, 41), QSize(30, 0), QSize(30, -40), QSize(30, PhotoSizeFile::kMaxSide + 1), QSize(0, 40),
          QSize(-30, 40), QSize(PhotoSizeFile::kMaxSide + 1, 40)}) {
        const bool plausible = stored == QSize(31, 41);
        PhotoDimensions::clearCache();
        ASSERT_TRUE(PhotoSizeFile::save(storage, {{photoKey, stored}}));
        PhotoDimensions::restoreFrom(storage);
        PhotoDimensions::flushStored();
        EXPECT_EQ(PhotoDimensions::settled(photos[2]), plausible)
            << stored.width() << " x " << stored.height();
        if (plausible) {
            EXPECT_EQ(PhotoDimensions::knownSize(photos[2]), QSizeF(stored));
        }
    }
    PhotoDimensions::clearCache();
}

TEST(PhotoDimensions, ASlowPictureHoldsNoOrdinaryPhotoAndAnUnreadableOneIsReadOnce) {
    CountingReader reader;
    reader.svgOpen = false;
    const QString folder = test::makeFolder(u"lanes"_s);
    std::vector<Photo> drawings;
    for (int i = 0; i < 4; ++i) {
        drawings.push_back(test::photoFor(folder + u"/drawing-%1.svg"_s.arg(i), {}, u"1-d%1"_s.arg(i)));
        test::writeFile(drawings.back().path, "<svg/>");
    }
    QObject receiver;
    int drawingsLearned = 0;
    for (const Photo& drawing : drawings)
        EXPECT_TRUE(PhotoDimensions::learn(drawing, &receiver, [&] { ++drawingsLearned; }));
    const Photo photo = test::writePhoto(folder, u"photo"_s, {30, 40});
    bool photoLearned = false;
    EXPECT_TRUE(PhotoDimensions::learn(photo, &receiver, [&] { photoLearned = true; }));
    EXPECT_TRUE(test::spinUntil([&] { return photoLearned; })) << "the photo waited for the drawings";
    EXPECT_EQ(PhotoDimensions::knownSize(photo), QSizeF(30, 40));
    EXPECT_EQ(drawingsLearned, 0);
    reader.svgOpen = true;
    EXPECT_TRUE(test::spinUntil([&] { return drawingsLearned == 4; }));

    // Off the main thread (a paper being drawn) an unreadable picture is read once, not at every
    // call.
    Photo broken = test::photoFor(folder + u"/broken.jpg"_s, {}, u"1-b"_s);
    test::writeFile(broken.path, "not a picture");
    std::thread drawing([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(PhotoDimensions::imageSize(broken), QSizeF(4, 3));
    });
    drawing.join();
    EXPECT_EQ(reader.reads(broken.path), 1);
    EXPECT_TRUE(PhotoDimensions::settled(broken));
}

// A sizes file of [key, width, height] entries.
QByteArray sizesFile(const QList<std::tuple<QString, int, int>>& entries) {
    QJsonArray sizes;
    for (const auto& [key, width, height] : entries)
        sizes.append(QJsonArray{key, width, height});
    return QJsonDocument(QJsonObject{{u"sizes"_s, sizes}}).toJson();
}

TEST(PhotoDimensions, ALookUpBeforeTheSizesFileIsReadIsAnsweredAsUnknownAndTheEndWaitsForItOnlyAWhile) {
    CountingReader reader;
    const QString storage = test::makeFolder(u"held-storage"_s);
    const std::vector<Photo> photos = test::writePhotos(u"held"_s, 2, {30, 40});
    test::writeFile(storage + u"/picture-sizes.json"_s,
                    sizesFile({{PhotoDimensions::fileKey(photos[0]), 30, 40},
                               {PhotoDimensions::fileKey(photos[1]), 30, 40}}));
    // Held until let go, or for ten seconds, so that whatever waits for it without a bound ends.
    std::atomic<bool> held{true};
    std::atomic<bool> loaded{false};
    PhotoDimensions::setLoaderForTesting([&held, &loaded](const QString& folder) {
        for (int i = 0; i < 10'000 && held; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        loaded = true;
        return PhotoSizeFile::load(folder);
    });
    const auto restore = qScopeGuard([&held] {
        held = false;
        PhotoDimensions::flushStored();
        PhotoDimensions::setLoaderForTesting({});
    });
    PhotoDimensions::restoreFrom(storage);
    EXPECT_FALSE(PhotoDimensions::knownSize(photos[0]));
    EXPECT_FALSE(PhotoDimensions::settled(photos[0]));
    EXPECT_EQ(PhotoDimensions::imageSize(photos[0]), QSizeF(4, 3));
    // A size asked for meanwhile is read from its own header, as if there were no file.
    QObject receiver;
    bool learned = false;
    EXPECT_TRUE(PhotoDimensions::learn(photos[0], &receiver, [&learned] { learned = true; }));
    EXPECT_TRUE(test::spinUntil([&learned] { return learned; }));
    EXPECT_EQ(PhotoDimensions::knownSize(photos[0]), QSizeF(30, 40));
    EXPECT_FALSE(loaded) << "the main thread or a read waited for the sizes file";
    // Once read, the file's sizes are known without a read.
    held = false;
    PhotoDimensions::flushStored();
    EXPECT_EQ(PhotoDimensions::knownSize(photos[1]), QSizeF(30, 40));
    EXPECT_EQ(reader.reads(photos[1].path), 0);

    // The process's end waits for a held read only a while, forgetting waits for it not at all,
    // and the read given up takes nothing in.
    PhotoDimensions::clearCache();
    held = true;
    loaded = false;
    PhotoDimensions::restoreFrom(storage);
    EXPECT_FALSE(PhotoDimensions::flushStored(std::chrono::milliseconds(50)));
    PhotoDimensions::clearCache();
    EXPECT_FALSE(loaded) << "the end or the forgetting waited for the sizes file";
    held = false;
    PhotoDimensions::flushStored();
    EXPECT_FALSE(PhotoDimensions::knownSize(photos[1]));
}

TEST(PhotoDimensions, SizesNoDecoderGivesAndPhotosGoneFromTheIndexLeaveTheSizesFile) {
    CountingReader reader;
    const QString storage = test::makeFolder(u"bogus-storage"_s);
    const QString file = storage + u"/picture-sizes.json"_s;
    const std::vector<Photo> photos = test::writePhotos(u"bogus"_s, 4, {30, 40});
    test::writeFile(file, sizesFile({{PhotoDimensions::fileKey(photos[0]), 30, 40},
                                     {PhotoDimensions::fileKey(photos[1]), 1, 1'048'576},
                                     {PhotoDimensions::fileKey(photos[2]), 0, 40},
                                     {PhotoDimensions::fileKey(photos[3]), 20'000, 20'000},
                                     {u"/gone/photo.jpg|100.0|2000"_s, 30, 40}}));
    PhotoDimensions::restoreFrom(storage);
    PhotoDimensions::flushStored();
    EXPECT_EQ(PhotoDimensions::knownSize(photos[0]), QSizeF(30, 40));
    for (int i = 1; i < 4; ++i)
        EXPECT_FALSE(PhotoDimensions::settled(photos[size_t(i)])) << "a size no decoder gives is read again";
    ASSERT_TRUE(learnAll({photos[1], photos[2], photos[3]}));
    EXPECT_EQ(reader.reads(), 3);
    for (const Photo& photo : photos)
        EXPECT_EQ(PhotoDimensions::knownSize(photo), QSizeF(30, 40));

    // Turned in place: the same byte count, a newer time. Its old shape does not stand for it.
    test::saveImage(test::makeImage(40, 30), photos[0].path, 90);
    Photo turned = photos[0];
    turned.modified += 1;
    EXPECT_FALSE(PhotoDimensions::settled(turned));
    ASSERT_TRUE(learnAll({turned}));
    EXPECT_EQ(PhotoDimensions::knownSize(turned), QSizeF(40, 30));

    // The index now holds the turned photo and two others: the rest leave at the save.
    PhotoDimensions::setIndexedPhotos({turned, photos[1], photos[2]});
    PhotoDimensions::flushStored();
    QMap<QString, QSize> saved;
    for (const QJsonValue& entry : QJsonDocument::fromJson(test::readFile(file))[u"sizes"_s].toArray())
        saved.insert(entry[0].toString(), QSize(entry[1].toInt(), entry[2].toInt()));
    const QMap<QString, QSize> expected{{PhotoDimensions::fileKey(turned), {40, 30}},
                                        {PhotoDimensions::fileKey(photos[1]), {30, 40}},
                                        {PhotoDimensions::fileKey(photos[2]), {30, 40}}};
    EXPECT_EQ(saved, expected);
}

// The process ends (its static objects go) while a slow picture's size is still being read: the
// read finishes into what is still there, and the process ends as it should.
TEST(PhotoDimensionsDeathTest, AReadStillRunningAsTheProcessEndsFinishesIntoWhatIsStillThere) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<bool> reading{false};
            PhotoDimensions::setReaderForTesting([&reading](const QString& path) -> std::optional<QSize> {
                if (path.endsWith(u".svg"_s)) {
                    reading = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
                return QSize(4, 3);
            });
            const QString folder = test::makeFolder(u"ending"_s);
            QObject receiver;
            // A size read and not yet handed to the main thread, which never gets to it.
            const Photo photo = test::writePhoto(folder, u"photo"_s, {30, 40});
            PhotoDimensions::learn(photo, &receiver, [] {});
            while (!PhotoDimensions::settled(photo))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const Photo drawing = test::photoFor(folder + u"/drawing.svg"_s, {}, u"1-d"_s);
            test::writeFile(drawing.path, "<svg/>");
            PhotoDimensions::learn(drawing, &receiver, [] {});
            while (!reading)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
} // namespace
} // namespace vennimo
