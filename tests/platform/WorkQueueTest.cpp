#include "platform/WorkQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace vennimo;
using namespace std::chrono_literals;

TEST(WorkQueue, SerialQueueRunsInOrderAndSyncWaits) {
    SerialQueue queue(QStringLiteral("local.vennimo.test"));
    EXPECT_EQ(queue.label(), "local.vennimo.test");
    std::vector<int> order;
    for (int i = 0; i < 100; ++i)
        queue.async([&order, i] { order.push_back(i); });
    int seen = -1;
    queue.sync([&] { seen = static_cast<int>(order.size()); });
    EXPECT_EQ(seen, 100) << "sync runs after everything queued before it";
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(order[i], i);
}

TEST(WorkQueue, WidthBoundsConcurrency) {
    WorkQueue queue(QStringLiteral("local.vennimo.width"), 2);
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    for (int i = 0; i < 12; ++i) {
        queue.async([&] {
            const int now = ++running;
            int expected = peak.load();
            while (now > expected && !peak.compare_exchange_weak(expected, now)) {
            }
            std::this_thread::sleep_for(5ms);
            --running;
        });
    }
    queue.waitUntilIdle();
    EXPECT_EQ(peak.load(), 2);
}

TEST(WorkQueue, DelayedTasksAndCancellation) {
    SerialQueue queue(QStringLiteral("local.vennimo.delay"));
    std::mutex m;
    std::vector<QString> ran;
    auto record = [&](QString s) {
        std::lock_guard lock(m);
        ran.push_back(std::move(s));
    };
    // Hold the worker so the queued task can be cancelled before it starts.
    std::atomic<bool> release{false};
    queue.async([&] {
        while (!release)
            std::this_thread::sleep_for(1ms);
    });
    const auto cancelled = queue.async([&] { record("cancelled"); });
    const auto late = queue.asyncAfter(60ms, [&] { record("late"); });
    queue.asyncAfter(20ms, [&] { record("early"); });
    const auto dropped = queue.asyncAfter(30ms, [&] { record("dropped"); });
    EXPECT_TRUE(queue.cancel(cancelled));
    EXPECT_TRUE(queue.cancel(dropped));
    release = true;
    std::this_thread::sleep_for(150ms);
    queue.waitUntilIdle();
    EXPECT_FALSE(queue.cancel(late)) << "a finished task cannot be cancelled";
    EXPECT_EQ(ran, (std::vector<QString>{"early", "late"}));
}

TEST(WorkQueue, DestructionDropsQueuedWork) {
    std::atomic<int> count{0};
    {
        SerialQueue queue(QStringLiteral("local.vennimo.drop"));
        queue.async([] { std::this_thread::sleep_for(30ms); });
        for (int i = 0; i < 10; ++i)
            queue.async([&] { ++count; });
        queue.asyncAfter(1h, [&] { ++count; });
    }
    EXPECT_LT(count.load(), 10);
}

TEST(WorkQueue, WorkersSleepingOnADelayedTaskSurviveItsRemoval) {
    // The worker waits for the delayed task's due time; dropping that task while it sleeps must
    // not leave the wait reading freed memory (caught by the sanitizer build).
    std::atomic<int> count{0};
    {
        SerialQueue queue(QStringLiteral("local.vennimo.sleeper"));
        const auto id = queue.asyncAfter(1h, [&] { ++count; });
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(queue.cancel(id));
        queue.asyncAfter(1h, [&] { ++count; });
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(count.load(), 0);
}

TEST(WorkQueue, ResultsComeBackOnTheMainThread) {
    SerialQueue queue(QStringLiteral("local.vennimo.main"));
    bool onMain = false;
    bool delivered = false;
    queue.async([&] {
        EXPECT_FALSE(isMainThread());
        postToMain([&] {
            onMain = isMainThread();
            delivered = true;
        });
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered; }, 2000));
    EXPECT_TRUE(onMain);

    bool ranForDeleted = false;
    auto* receiver = new QObject;
    postTo(receiver, [&] { ranForDeleted = true; });
    delete receiver;
    QCoreApplication::processEvents();
    EXPECT_FALSE(ranForDeleted);
}
