#include "core/DeferredStateWriter.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

using namespace vennimo;
using namespace std::chrono_literals;

namespace {

// Records which operations ran and whether all ran off the main thread, and the results reported.
struct Log {
    mutable std::mutex mutex;
    QStringList ran;
    bool offMain = true;
    QList<std::optional<Error>> results;
    bool resultsOnMain = true;

    DeferredStateWriter::Operation op(const QString& name, Status result = {}) {
        return [this, name, result] {
            std::lock_guard lock(mutex);
            ran << name;
            offMain = offMain && !isMainThread();
            return result;
        };
    }
    QStringList operations() const {
        std::lock_guard lock(mutex);
        return ran;
    }
    void attach(DeferredStateWriter& writer) {
        writer.setOnResult([this](const std::optional<Error>& error) {
            results << error;
            resultsOnMain = resultsOnMain && isMainThread();
        });
    }
};

DeferredStateWriter::Options withDelay(std::chrono::milliseconds delay) {
    DeferredStateWriter::Options options;
    options.debounceDelay = delay;
    return options;
}

const Error kDiskFull = Error::fromErrno(ENOSPC, QStringLiteral("/state.json"));

} // namespace

TEST(DeferredStateWriter, ABurstWritesOnlyTheLastOnceAfterTheQuietSpell) {
    DeferredStateWriter writer(withDelay(300ms));
    Log log;
    log.attach(writer);
    writer.schedule(log.op("first"));
    std::this_thread::sleep_for(50ms);
    writer.schedule(log.op("second"));
    std::this_thread::sleep_for(50ms);
    QElapsedTimer sinceLast;
    sinceLast.start();
    writer.schedule(log.op("third"));
    EXPECT_TRUE(writer.needsSave());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.results.isEmpty(); }, 5000)) << "no result reported";
    EXPECT_GE(sinceLast.elapsed(), 300) << "the wait restarts with every request";
    EXPECT_EQ(log.operations(), QStringList{"third"}) << "earlier operations are dropped unrun";
    EXPECT_TRUE(log.offMain && log.resultsOnMain) << "written on the queue, reported on the main thread";
    EXPECT_FALSE(log.results.first().has_value());
    EXPECT_EQ(writer.writeCount(), 1);
    QTest::qWait(400);
    EXPECT_EQ(log.operations().size(), 1) << "stale timers must not write again";
}

TEST(DeferredStateWriter, FlushImmediateAndDiscardSupersedeTheDebounce) {
    DeferredStateWriter writer(withDelay(100ms));
    Log log;
    log.attach(writer);
    writer.schedule(log.op("debounced"));
    ASSERT_TRUE(writer.immediate(log.op("immediate")).ok());
    EXPECT_FALSE(writer.needsSave()) << "the immediate write stands for the owed one";
    writer.schedule(log.op("flushed"));
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(log.operations(), (QStringList{"immediate", "flushed"})) << "flush writes at once";
    writer.schedule(log.op("discarded"));
    writer.discardPending();
    EXPECT_FALSE(writer.needsSave());
    QTest::qWait(300);
    EXPECT_EQ(log.operations(), (QStringList{"immediate", "flushed"})) << "no timer writes again";
    EXPECT_TRUE(log.results.isEmpty()) << "flushed and discarded writes report nothing";
    EXPECT_EQ(writer.writeCount(), 2);
}

TEST(DeferredStateWriter, FailedWritesStayOwedUntilALaterWriteSucceeds) {
    DeferredStateWriter writer(withDelay(50ms));
    Log log;
    log.attach(writer);
    std::atomic<int> attempts{0};
    std::atomic<bool> failing{true};
    writer.schedule([&]() -> Status {
        ++attempts;
        return failing ? Status(kDiskFull) : Status();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.results.isEmpty(); }, 5000));
    ASSERT_TRUE(log.results.first().has_value()) << "the failure reaches the result callback";
    EXPECT_TRUE(writer.needsSave()) << "a failed debounced write is still owed";
    EXPECT_EQ(writer.flush().error().sysErrno, ENOSPC) << "flush passes the error on";
    failing = false;
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(attempts.load(), 3) << "the next flush retries the same operation";
    EXPECT_FALSE(writer.needsSave());
    EXPECT_EQ(writer.writeCount(), 1);

    // A failing immediate write must not cancel what was owed before it.
    writer.schedule(log.op("owed"));
    EXPECT_FALSE(writer.immediate(log.op("immediate", kDiskFull)).ok());
    EXPECT_TRUE(writer.needsSave());
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(log.operations(), (QStringList{"immediate", "owed"}));
}

TEST(DeferredStateWriter, ResultsOfSupersededRequestsAreDroppedAndOwnersNeverLoseTheLastWrite) {
    Log log;
    {
        DeferredStateWriter writer(withDelay(20ms));
        log.attach(writer);
        std::atomic<bool> started{false}, release{false};
        writer.schedule([&]() -> Status {
            started = true;
            while (!release)
                std::this_thread::sleep_for(1ms);
            return kDiskFull;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
        writer.schedule(log.op("newer"));
        release = true;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.operations().isEmpty(); }, 5000));
        QTest::qWait(100);
        ASSERT_EQ(log.results.size(), 1) << "only the newest request reports";
        EXPECT_FALSE(log.results.first().has_value()) << "the older failure was silenced";
    }
    {
        DeferredStateWriter writer(withDelay(10s));
        log.attach(writer);
        writer.schedule(log.op("owed"));
    }
    QTest::qWait(50);
    EXPECT_EQ(log.operations(), (QStringList{"newer", "owed"})) << "dropping the owner writes what is owed";
    EXPECT_EQ(log.results.size(), 1) << "and reports nothing";
}

TEST(DeferredStateWriter, WriteCreatesTheFolderOrReportsWhyNot) {
    const QString path = test::makeFolder("w") + "/a/b/state.json";
    ASSERT_TRUE(DeferredStateWriter::write({{"k", 1}}, path).ok());
    EXPECT_EQ(test::readFile(path), R"({"k":1})");
    EXPECT_NE(DeferredStateWriter::write({}, path + "/state.json").error().sysErrno, 0);
}
