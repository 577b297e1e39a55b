#include "platform/WorkQueue.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
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

TEST(WorkQueue, ATaskPutBackWaitsWithoutItsWorkerUntilWokenCancelledOrItsQueueEnds) {
    using PutBack = WorkQueue::PutBack;
    std::mutex lock;
    std::vector<QString> ran;
    const auto note = [&](const QString& what) {
        const std::lock_guard guard(lock);
        ran.push_back(what);
    };
    // A put back is asked from inside the task; the handle comes out through a promise.
    const auto putBackOnce = [](std::promise<std::shared_ptr<PutBack>>& handle) {
        return [&handle, runs = std::make_shared<std::atomic<int>>(0)] {
            if ((*runs)++ > 0)
                return;
            auto putBack = WorkQueue::putBackCurrentTask();
            EXPECT_EQ(WorkQueue::putBackCurrentTask(), nullptr) << "once a run";
            handle.set_value(std::move(putBack));
        };
    };
    std::shared_ptr<PutBack> outlived;
    {
        WorkQueue queue(QStringLiteral("local.vennimo.aside"), 2);
        std::atomic<int> runs{0};
        std::promise<std::shared_ptr<PutBack>> first;
        queue.async([&] {
            if (runs++ == 0)
                return first.set_value(WorkQueue::putBackCurrentTask());
            note(QStringLiteral("again"));
        });
        const auto woken = first.get_future().get();
        ASSERT_NE(woken, nullptr);
        EXPECT_EQ(queue.pendingCount(), 1u) << "a task put back counts as queued";
        // Both workers are free while it waits aside.
        std::atomic<int> busy{0}, together{0}, done{0};
        for (int i = 0; i < 2; ++i)
            queue.async([&] {
                ++busy;
                for (int t = 0; t < 400 && busy.load() < 2; ++t)
                    std::this_thread::sleep_for(5ms);
                together = std::max(together.load(), busy.load());
                ++done;
            });
        while (done < 2)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(together.load(), 2) << "the task put back held a worker";
        PutBack::Around around = [&](const WorkQueue::Task& task) {
            note(QStringLiteral("around"));
            task();
        };
        EXPECT_TRUE(woken->wake(around));
        queue.waitUntilIdle();
        EXPECT_EQ(ran, (std::vector<QString>{"around", "again"}));
        EXPECT_FALSE(woken->wake(around)) << "woken once";

        // Woken before it returned: it runs again as soon as it does.
        std::promise<void> parked;
        std::atomic<bool> wakeGiven{false};
        std::atomic<int> earlyRuns{0};
        std::shared_ptr<PutBack> early;
        queue.async([&] {
            if (earlyRuns++ > 0)
                return note(QStringLiteral("early again"));
            early = WorkQueue::putBackCurrentTask();
            parked.set_value();
            while (!wakeGiven)
                std::this_thread::sleep_for(1ms);
        });
        parked.get_future().wait();
        PutBack::Around plain = [](const WorkQueue::Task& task) { task(); };
        EXPECT_TRUE(early->wake(plain));
        wakeGiven = true;
        queue.waitUntilIdle();
        EXPECT_EQ(ran.back(), QStringLiteral("early again"));

        // A cancelled one is never woken; what the wake would have run stays with the waker.
        std::promise<std::shared_ptr<PutBack>> third;
        const auto id = queue.async(putBackOnce(third));
        const auto cancelled = third.get_future().get();
        bool gone = false;
        for (int i = 0; i < 2000 && !gone; ++i) {
            gone = queue.cancel(id);
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(gone);
        PutBack::Around kept = [](const WorkQueue::Task&) { ADD_FAILURE() << "ran after its cancel"; };
        EXPECT_FALSE(cancelled->wake(kept));
        EXPECT_TRUE(kept) << "left with the caller";

        std::promise<std::shared_ptr<PutBack>> fourth;
        queue.async(putBackOnce(fourth));
        outlived = fourth.get_future().get();
    }
    PutBack::Around late = [](const WorkQueue::Task&) { ADD_FAILURE() << "ran after its queue ended"; };
    EXPECT_FALSE(outlived->wake(late)) << "the queue has ended";

    // A serial queue keeps its order: nothing there is put back, nor off a worker.
    SerialQueue serial(QStringLiteral("local.vennimo.aside-serial"));
    serial.sync([] { EXPECT_EQ(WorkQueue::putBackCurrentTask(), nullptr); });
    EXPECT_EQ(WorkQueue::putBackCurrentTask(), nullptr);
}

TEST(WorkQueue, ATaskSteppingAsideLeavesItsPlaceToTheNextButOnlyOneMayAtOnce) {
    WorkQueue queue(QStringLiteral("local.vennimo.step-aside"), 2);
    std::atomic<bool> release{false};
    std::atomic<int> holding{0};
    // Both try to step aside; the spare worker is one, so the second keeps counting.
    for (int i = 0; i < 2; ++i)
        queue.async([&] {
            WorkQueue::stepAsideCurrentTask();
            ++holding;
            while (!release)
                std::this_thread::sleep_for(1ms);
        });
    std::atomic<int> busy{0}, together{0}, done{0};
    for (int i = 0; i < 2; ++i)
        queue.async([&] {
            const int now = ++busy;
            for (int t = 0; t < 100 && busy.load() < 2; ++t)
                std::this_thread::sleep_for(5ms);
            together = std::max({together.load(), now, busy.load()});
            --busy;
            ++done;
        });
    for (int i = 0; i < 20000 && done < 2; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(holding.load(), 2);
    EXPECT_EQ(done.load(), 2) << "the task stepped aside still held its place";
    EXPECT_EQ(together.load(), 1) << "more ran than the width and the one aside";
    release = true;
    queue.waitUntilIdle();

    // On a serial queue nothing steps aside: order is kept.
    SerialQueue serial(QStringLiteral("local.vennimo.step-aside-serial"));
    std::vector<int> order;
    serial.async([&] {
        WorkQueue::stepAsideCurrentTask();
        std::this_thread::sleep_for(20ms);
        order.push_back(0);
    });
    serial.async([&] { order.push_back(1); });
    serial.waitUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
}
