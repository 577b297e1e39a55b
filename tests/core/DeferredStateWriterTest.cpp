#include "core/DeferredStateWriter.h"
#include "platform/JsonFile.h"
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

// Records which operations ran, from whichever thread ran them.
class Journal {
public:
    DeferredStateWriter::Operation op(const QString& name, Status result = {}) {
        return [this, name, result] {
            std::lock_guard lock(m_mutex);
            m_ran << name;
            m_offMain = m_offMain && !isMainThread();
            return result;
        };
    }
    QStringList ran() const {
        std::lock_guard lock(m_mutex);
        return m_ran;
    }
    bool allOffMain() const {
        std::lock_guard lock(m_mutex);
        return m_offMain;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_ran;
    bool m_offMain = true;
};

struct Results {
    QList<std::optional<Error>> seen;
    bool onMain = true;

    void attach(DeferredStateWriter& writer) {
        writer.setOnResult([this](const std::optional<Error>& error) {
            seen << error;
            onMain = onMain && isMainThread();
        });
    }
};

DeferredStateWriter::Options withDelay(std::chrono::milliseconds delay) {
    DeferredStateWriter::Options options;
    options.debounceDelay = delay;
    return options;
}

Error diskFull() {
    return Error::fromErrno(ENOSPC, QStringLiteral("/state.json"));
}

} // namespace

TEST(DeferredStateWriter, BurstOfSchedulesWritesOnlyTheLastOnceAfterTheQuietSpell) {
    EXPECT_EQ(DeferredStateWriter::kDebounceDelay, 500ms);
    DeferredStateWriter writer(withDelay(300ms));
    EXPECT_EQ(writer.label(), "local.vennimo.deferred-state");
    Journal journal;
    Results results;
    results.attach(writer);

    writer.schedule(journal.op("first"));
    std::this_thread::sleep_for(50ms);
    writer.schedule(journal.op("second"));
    std::this_thread::sleep_for(50ms);
    QElapsedTimer sinceLast;
    sinceLast.start();
    writer.schedule(journal.op("third"));
    EXPECT_TRUE(writer.needsSave());
    EXPECT_TRUE(journal.ran().isEmpty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.seen.isEmpty(); }, 5000)) << "no result reported";
    EXPECT_GE(sinceLast.elapsed(), 300) << "the wait restarts with every request";
    EXPECT_EQ(journal.ran(), QStringList{"third"}) << "earlier operations are dropped unrun";
    EXPECT_TRUE(journal.allOffMain()) << "writes run on the writer's queue";
    EXPECT_TRUE(results.onMain) << "results are reported on the main thread";
    EXPECT_FALSE(results.seen.first().has_value());
    EXPECT_EQ(writer.writeCount(), 1);
    EXPECT_FALSE(writer.needsSave());

    QTest::qWait(400);
    EXPECT_EQ(journal.ran().size(), 1) << "stale timers must not write again";
    EXPECT_EQ(results.seen.size(), 1);
}

TEST(DeferredStateWriter, ImmediateWritesAndFlushesSupersedeTheDebounce) {
    DeferredStateWriter writer(withDelay(100ms));
    Journal journal;
    Results results;
    results.attach(writer);

    writer.schedule(journal.op("debounced"));
    ASSERT_TRUE(writer.immediate(journal.op("immediate")).ok());
    EXPECT_EQ(journal.ran(), QStringList{"immediate"}) << "immediate runs before returning";
    EXPECT_FALSE(writer.needsSave());
    EXPECT_EQ(writer.writeCount(), 1);
    QTest::qWait(300);
    EXPECT_EQ(journal.ran(), QStringList{"immediate"}) << "the immediate write stands for the owed one";
    EXPECT_TRUE(results.seen.isEmpty());

    writer.schedule(journal.op("flushed"));
    EXPECT_TRUE(writer.needsSave());
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(journal.ran(), (QStringList{"immediate", "flushed"})) << "flush writes at once";
    EXPECT_FALSE(writer.needsSave());
    EXPECT_EQ(writer.writeCount(), 2);
    QTest::qWait(300);
    EXPECT_EQ(journal.ran().size(), 2) << "a flushed write is not written again by its timer";
    EXPECT_TRUE(results.seen.isEmpty()) << "a flush silences the debounced result";

    EXPECT_TRUE(writer.flush().ok()) << "nothing pending is a success";
    EXPECT_EQ(writer.writeCount(), 2);
}

TEST(DeferredStateWriter, FailedWritesStayOwedUntilALaterWriteSucceeds) {
    DeferredStateWriter writer(withDelay(50ms));
    Results results;
    results.attach(writer);
    std::atomic<int> attempts{0};
    std::atomic<bool> failing{true};
    writer.schedule([&]() -> Status {
        ++attempts;
        if (failing)
            return diskFull();
        return {};
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.seen.isEmpty(); }, 5000));
    ASSERT_TRUE(results.seen.first().has_value()) << "the failure reaches the result callback";
    EXPECT_EQ(results.seen.first()->sysErrno, ENOSPC);
    EXPECT_TRUE(writer.needsSave()) << "a failed debounced write is still owed";
    EXPECT_EQ(writer.writeCount(), 0);

    const Status stillFailing = writer.flush();
    ASSERT_FALSE(stillFailing.ok());
    EXPECT_EQ(stillFailing.error().sysErrno, ENOSPC) << "flush passes the error on";
    EXPECT_TRUE(writer.needsSave());
    EXPECT_EQ(attempts.load(), 2);

    failing = false;
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(attempts.load(), 3) << "the next flush retries the same operation";
    EXPECT_FALSE(writer.needsSave());
    EXPECT_EQ(writer.writeCount(), 1);
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(attempts.load(), 3) << "once written it is no longer owed";

    // A failing immediate write must not cancel what was owed before it.
    Journal journal;
    writer.schedule(journal.op("owed"));
    const Status refused = writer.immediate(journal.op("immediate", diskFull()));
    EXPECT_FALSE(refused.ok());
    EXPECT_TRUE(writer.needsSave());
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(journal.ran(), (QStringList{"immediate", "owed"}));
    EXPECT_EQ(results.seen.size(), 1);
}

TEST(DeferredStateWriter, DiscardDropsThePendingWriteSilently) {
    DeferredStateWriter writer(withDelay(50ms));
    Journal journal;
    Results results;
    results.attach(writer);
    writer.schedule(journal.op("dropped"));
    writer.discardPending();
    EXPECT_FALSE(writer.needsSave());
    QTest::qWait(250);
    EXPECT_TRUE(journal.ran().isEmpty());
    EXPECT_TRUE(results.seen.isEmpty()) << "a discarded write reports nothing";
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_TRUE(journal.ran().isEmpty()) << "flush after discard has nothing to write";
    EXPECT_EQ(writer.writeCount(), 0);
}

TEST(DeferredStateWriter, ResultsOfSupersededRequestsAreDropped) {
    DeferredStateWriter writer(withDelay(20ms));
    Results results;
    results.attach(writer);
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    writer.schedule([&]() -> Status {
        started = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        return diskFull();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
    Journal journal;
    writer.schedule(journal.op("newer"));
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !journal.ran().isEmpty(); }, 5000));
    QTest::qWait(100);
    ASSERT_EQ(results.seen.size(), 1) << "only the newest request reports";
    EXPECT_FALSE(results.seen.first().has_value()) << "the older failure was silenced";
    EXPECT_FALSE(writer.needsSave());
}

TEST(DeferredStateWriter, DroppedWriterStillWritesWhatIsOwedAndReportsNothing) {
    Journal journal;
    bool reported = false;
    {
        DeferredStateWriter writer(withDelay(10s));
        writer.setOnResult([&](const std::optional<Error>&) { reported = true; });
        writer.schedule(journal.op("owed"));
    }
    EXPECT_EQ(journal.ran(), QStringList{"owed"}) << "dropping the owner must not lose its last change";

    {
        auto writer = std::make_unique<DeferredStateWriter>(withDelay(1ms));
        writer->setOnResult([&](const std::optional<Error>&) { reported = true; });
        writer->schedule(journal.op("written"));
        while (journal.ran().size() < 2)
            std::this_thread::sleep_for(1ms);
        // The result is already on its way to the main thread when the writer goes.
        writer.reset();
    }
    QTest::qWait(50);
    EXPECT_FALSE(reported);
}

TEST(DeferredStateWriter, WriteCreatesFoldersAndWritesSortedCompactJson) {
    const QString path = test::makeFolder("w") + "/a/b/state.json";
    QJsonObject value;
    value.insert("zeta", 1);
    value.insert("alpha", QJsonObject{{"m", true}, {"b", 2.5}});
    value.insert("big", qint64(9223372036854775805LL));
    ASSERT_TRUE(DeferredStateWriter::write(value, path).ok());
    EXPECT_EQ(test::readFile(path), R"({"alpha":{"b":2.5,"m":true},"big":9223372036854775805,"zeta":1})");

    test::writeFile(test::makeFolder("w2") + "/file", "x");
    const Status blocked = DeferredStateWriter::write(value, test::makeFolder("w2") + "/file/state.json");
    ASSERT_FALSE(blocked.ok()) << "a file in the way of the folder is an error";
    EXPECT_NE(blocked.error().sysErrno, 0);

    EXPECT_EQ(DeferredStateWriter::readStateFile(path + ".missing").error().sysErrno, ENOENT);
    EXPECT_EQ(*DeferredStateWriter::readStateFile(path), test::readFile(path));
}
