#include "platform/WorkQueue.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace vennimo;
using namespace std::chrono_literals;

TEST(WorkQueue, SerialQueueRunsInOrderAndWidthBoundsConcurrency) {
    SerialQueue serial(QStringLiteral("local.vennimo.test"));
    std::vector<int> order;
    for (int i = 0; i < 100; ++i)
        serial.async([&order, i] { order.push_back(i); });
    serial.sync([&] { EXPECT_EQ(order.size(), 100u) << "sync runs after everything queued before it"; });
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    WorkQueue queue(QStringLiteral("local.vennimo.width"), 2);
    std::atomic<int> running{0}, peak{0};
    for (int i = 0; i < 12; ++i) {
        queue.async([&] {
            const int now = ++running;
            for (int expected = peak; now > expected && !peak.compare_exchange_weak(expected, now);) {
            }
            // Hold on until the other worker is busy too (or clearly never will be), so a loaded
            // machine cannot make the overlap depend on scheduling luck.
            for (int i = 0; i < 400 && running.load() < 2; ++i)
                std::this_thread::sleep_for(5ms);
            std::this_thread::sleep_for(2ms);
            --running;
        });
    }
    queue.waitUntilIdle();
    EXPECT_EQ(peak.load(), 2);
}

TEST(WorkQueue, DelayedTasksCancellationDestructionAndResultsOnTheMainThread) {
    std::atomic<int> dropped{0};
    {
        SerialQueue queue(QStringLiteral("local.vennimo.delay"));
        // One worker runs these, and waitUntilIdle orders its writes before the reads below.
        std::vector<QString> ran;
        const auto record = [&ran](const char* name) { return [&ran, name] { ran.push_back(name); }; };
        // Hold the worker so the queued task can be cancelled before it starts.
        std::atomic<bool> release{false};
        queue.async([&] {
            while (!release)
                std::this_thread::sleep_for(1ms);
        });
        const auto cancelled = queue.async(record("cancelled"));
        const auto late = queue.asyncAfter(60ms, record("late"));
        queue.asyncAfter(20ms, record("early"));
        const auto droppedLater = queue.asyncAfter(30ms, record("dropped"));
        EXPECT_TRUE(queue.cancel(cancelled) && queue.cancel(droppedLater));
        release = true;
        std::this_thread::sleep_for(150ms);
        queue.waitUntilIdle();
        EXPECT_FALSE(queue.cancel(late)) << "a finished task cannot be cancelled";
        EXPECT_EQ(ran, (std::vector<QString>{"early", "late"}));

        // The worker now sleeps until a delayed task is due; removing that task while it sleeps
        // must not leave the wait reading freed memory (caught by the sanitizer build).
        const auto sleeper = queue.asyncAfter(1h, [&] { ++dropped; });
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(queue.cancel(sleeper));
        std::this_thread::sleep_for(20ms);
        queue.async([] { std::this_thread::sleep_for(30ms); });
        for (int i = 0; i < 10; ++i)
            queue.async([&] { ++dropped; });
        queue.asyncAfter(1h, [&] { ++dropped; });
    }
    EXPECT_LT(dropped.load(), 10) << "destruction drops queued work";

    // Results come back on the main thread, and only while the receiver lives.
    SerialQueue queue(QStringLiteral("local.vennimo.main"));
    std::atomic<int> delivered{0}; // 1 on the main thread, 2 elsewhere
    queue.async([&] { postToMain([&] { delivered = isMainThread() ? 1 : 2; }); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered != 0; }, 10000));
    EXPECT_EQ(delivered, 1);

    auto* receiver = new QObject;
    postTo(receiver, [&] { ADD_FAILURE() << "posted to a deleted receiver"; });
    delete receiver;
    QCoreApplication::processEvents();
}

TEST(WorkQueue, CancellingEverythingNeverStrandsAWaitingSync) {
    SerialQueue queue(QStringLiteral("local.vennimo.sync"));
    std::atomic<bool> release{false};
    queue.async([&] {
        while (!release)
            std::this_thread::sleep_for(1ms);
    });
    std::atomic<bool> ran{false}, returned{false};
    std::thread waiter([&] {
        queue.sync([&] { ran = true; });
        returned = true;
    });
    while (queue.pendingCount() < 1)
        std::this_thread::sleep_for(1ms);
    queue.cancelAll();
    release = true;
    waiter.join();
    EXPECT_TRUE(ran && returned);
}
