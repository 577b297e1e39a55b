#include "core/ExhibitionStore.h"
#include "core/Indexer.h"
#include "platform/ImageDecoder.h"
#include "platform/WorkingRoom.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"
#include "support/WaitUntil.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;
using vennimo::test::waitUntil;

TEST(ExhibitionThumbnails, DrawingsTakeTheRoomTheDropsChecksTakeAndOneGivenUpStopsWaitingForIt) {
    const QString folder = makeFolder("exhibition-room");
    Indexer indexer({}, storageFolder());
    // A progressive photo keeps its coefficients while it is drawn: it needs room, a plain one none.
    const QString progressive = folder + "/progressive.jpg";
    writeFile(progressive, jpegOf(makeImage(1200, 900), 90, true));
    const QString plain = folder + "/plain.jpg";
    writeFile(plain, jpegOf(makeImage(1200, 900)));
    ASSERT_GT(ImageDecoder::workingBytesOf(progressive), 0);
    ASSERT_EQ(ImageDecoder::workingBytesOf(plain), 0);

    std::atomic<bool> leave{false};
    std::atomic<int> asked{0};
    // Asked between the rows of a decoding too: what room was free meanwhile.
    std::atomic<qint64> leastFree{WorkingRoom::kBudgetBytes};
    const ExhibitionStore::ThumbnailMaker draw =
        ExhibitionStore::thumbnailMaker(indexer, [&](const QString&) {
            ++asked;
            leastFree = std::min(leastFree.load(), WorkingRoom::available());
            return leave.load();
        });
    const qint64 wholeRoom = WorkingRoom::available();
    draw(progressive, folder + "/drawn.jpg");
    EXPECT_TRUE(QFile::exists(folder + "/drawn.jpg"));
    EXPECT_LT(leastFree.load(), wholeRoom) << "drawn without taking room";
    EXPECT_EQ(WorkingRoom::available(), wholeRoom) << "its room was not given back";

    // The room all taken, as by a drop's check of a large picture.
    std::optional<QSemaphoreReleaser> all = WorkingRoom::take(WorkingRoom::kBudgetBytes);
    ASSERT_EQ(WorkingRoom::available(), 0);
    draw(plain, folder + "/plain-thumbnail.jpg");
    EXPECT_TRUE(QFile::exists(folder + "/plain-thumbnail.jpg")) << "a picture keeping nothing waited";
    asked = 0;
    auto waiting = std::async(std::launch::async, [&] { draw(progressive, folder + "/given-up.jpg"); });
    // It asks whether it is given up as it waits, again and again.
    ASSERT_TRUE(waitUntil([&] { return asked.load() >= 3; }));
    leave = true;
    ASSERT_TRUE(waitUntil([&] { return waiting.wait_for(0s) == std::future_status::ready; }))
        << "a drawing given up kept waiting for room";
    EXPECT_FALSE(QFile::exists(folder + "/given-up.jpg"));
    all.reset();
    EXPECT_EQ(WorkingRoom::available(), wholeRoom);
}
