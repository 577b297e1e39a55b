#include "platform/WorkQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vennimo;
using namespace std::chrono_literals;

// The workers wait for the earliest delayed task; destroying the queue drops that task while they
// wait, which must not leave them reading its freed deadline (caught by the sanitizer build).
TEST(WorkQueue, DestroyedWhileWaitingForADelayedTask) {
    std::atomic<int> ran{0};
    for (int round = 0; round < 20; ++round) {
        WorkQueue queue(QStringLiteral("local.vennimo.delay"), 2);
        queue.asyncAfter(1h, [&] { ++ran; });
        queue.async([&] { ++ran; });
        queue.waitUntilIdle();
    }
    EXPECT_EQ(ran.load(), 20) << "only the immediate tasks ran";
}
