#include "rendering/PhotoDimensions.h"
#include "platform/WorkQueue.h"
#include "rendering/ImageReading.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include "RenderingTestSupport.h"

#include <QObject>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

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

} // namespace
} // namespace vennimo
