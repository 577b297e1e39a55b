#include "core/ClotheslinePlacementStore.h"
#include "core/UsageHistory.h"
#include "crashchild/StateWriteRounds.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace vennimo;

namespace {

// Starts a writer and waits for its first whole round; answers its pid, or -1.
pid_t startWriter(const QString& storage) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const QByteArray program = VENNIMO_STATE_WRITE_CHILD, folder = QFile::encodeName(storage);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(folder.constData()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char byte = 0;
    ssize_t n;
    while ((n = read(fds[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    close(fds[0]);
    return n == 1 ? pid : -1;
}

// Each file must hold one whole round: every record written by the same round.
void expectWholeFiles(const QString& storage) {
    const QList<Photo> photos = test::crashPhotos();
    ClotheslinePlacementStore placements(storage);
    ASSERT_FALSE(placements.loadError()) << placements.loadError()->toStdString();
    ASSERT_EQ(placements.records().size(), photos.size());
    const double x = placements.position(photos.first())->x;
    ASSERT_TRUE(x == test::crashX(true) || x == test::crashX(false));
    UsageHistory history(storage, QString::fromLatin1(kLineHistoryFileName));
    ASSERT_FALSE(history.loadError()) << history.loadError()->toStdString();
    const bool used = history.isUsed(photos.first());
    for (const Photo& p : photos) {
        ASSERT_EQ(placements.position(p)->x, x) << "placements of two rounds in one file";
        ASSERT_TRUE(history.hasRecord(p));
        ASSERT_EQ(history.isUsed(p), used) << "marks of two rounds in one file";
    }
    const QByteArray raw = test::readFile(storage + "/" + test::kRawStateFileName);
    ASSERT_TRUE(raw == JsonFile::encode(test::rawState(true)) ||
                raw == JsonFile::encode(test::rawState(false)))
        << "raw state of " << raw.size() << " bytes is neither round";
}

} // namespace

TEST(StateFilesUnderSigkill, AKilledWriterLeavesEveryFileWhole) {
    // 200 kills in all, four writers at a time, each in its own folder, at random moments.
    constexpr int kWriters = 4;
    QStringList folders;
    for (int w = 0; w < kWriters; ++w)
        folders << test::makeFolder(QString("crash%1").arg(w));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, 1000);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    for (int kill = 0; kill < 200; kill += kWriters) {
        pid_t pids[kWriters];
        for (int w = 0; w < kWriters; ++w)
            pids[w] = startWriter(folders[w]);
        for (int w = 0; w < kWriters; ++w) {
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            if (pids[w] > 0)
                ::kill(pids[w], SIGKILL);
        }
        int status[kWriters] = {};
        for (int w = 0; w < kWriters; ++w)
            if (pids[w] > 0)
                waitpid(pids[w], &status[w], 0); // every writer is reaped before any check
        for (int w = 0; w < kWriters; ++w) {
            SCOPED_TRACE(testing::Message() << "kill " << kill + w);
            ASSERT_GT(pids[w], 0) << "the writer failed before its first round";
            ASSERT_TRUE(WIFSIGNALED(status[w]) && WTERMSIG(status[w]) == SIGKILL);
            expectWholeFiles(folders[w]);
            if (HasFatalFailure())
                return;
        }
    }
}
