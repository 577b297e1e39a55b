#include "core/ClotheslinePlacementStore.h"
#include "core/UsageHistory.h"
#include "crashchild/StateWriteRounds.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
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

struct Child {
    pid_t pid = -1;
    int readyFd = -1;
};

// Kills and reaps every writer still running when a check fails half-way, so none outlives the test.
struct Reaper {
    std::vector<Child>& children;
    ~Reaper() {
        for (Child& child : children) {
            if (child.readyFd >= 0)
                close(child.readyFd);
            if (child.pid > 0) {
                ::kill(child.pid, SIGKILL);
                waitpid(child.pid, nullptr, 0);
            }
        }
    }
};

Child spawnWriter(const QString& storage) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const QByteArray program = VENNIMO_STATE_WRITE_CHILD;
    const QByteArray folder = QFile::encodeName(storage);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(folder.constData()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return {};
    }
    return {pid, fds[0]};
}

QString describeExit(int status) {
    if (WIFEXITED(status))
        return QStringLiteral("exited with %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QStringLiteral("died of signal %1").arg(WTERMSIG(status));
    return QStringLiteral("status %1").arg(status);
}

// Each file must hold one whole round: every record written by the same round.
void expectWholeFiles(const QString& storage, int kill) {
    const QList<Photo> photos = test::crashPhotos();
    ClotheslinePlacementStore placements(storage);
    ASSERT_FALSE(placements.loadError()) << "kill " << kill << ": " << placements.loadError()->toStdString();
    ASSERT_EQ(placements.records().size(), test::kCrashPhotoCount) << "kill " << kill;
    const auto first = placements.position(photos.first());
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->x == test::crashX(true) || first->x == test::crashX(false)) << "kill " << kill;
    for (const Photo& p : photos) {
        const auto placement = placements.position(p);
        ASSERT_TRUE(placement && placement->x == first->x && placement->row == first->row)
            << "kill " << kill << ": placements of two rounds in one file";
    }

    UsageHistory history(storage, QString::fromLatin1(kLineHistoryFileName));
    ASSERT_FALSE(history.loadError()) << "kill " << kill << ": " << history.loadError()->toStdString();
    const bool used = history.isUsed(photos.first());
    for (const Photo& p : photos) {
        ASSERT_TRUE(history.hasRecord(p)) << "kill " << kill;
        ASSERT_EQ(history.isUsed(p), used) << "kill " << kill << ": marks of two rounds in one file";
    }

    const QByteArray raw = test::readFile(storage + "/" + test::kRawStateFileName);
    ASSERT_TRUE(raw == JsonFile::encode(test::rawState(true)) ||
                raw == JsonFile::encode(test::rawState(false)))
        << "kill " << kill << ": raw state of " << raw.size() << " bytes is neither round";
}

} // namespace

TEST(StateFilesUnderSigkill, AKilledWriterLeavesEveryFileWhole) {
    // 200 kills in all, four writers at a time, each in its own folder.
    constexpr int kWriters = 4;
    constexpr int kRounds = 50;
    constexpr int kMaxDelayMicroseconds = 4000;
    QStringList folders;
    for (int w = 0; w < kWriters; ++w)
        folders << test::makeFolder(QString("crash%1").arg(w));
    std::random_device seedSource;
    const unsigned seed = seedSource();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, kMaxDelayMicroseconds);
    SCOPED_TRACE(testing::Message() << "seed " << seed);

    for (int round = 0; round < kRounds; ++round) {
        std::vector<Child> children;
        Reaper reaper{children};
        for (const QString& folder : folders) {
            children.push_back(spawnWriter(folder));
            ASSERT_GT(children.back().pid, 0) << "cannot start " << VENNIMO_STATE_WRITE_CHILD;
        }
        std::vector<ssize_t> ready;
        for (Child& child : children) {
            char byte = 0;
            ssize_t n;
            do {
                n = read(child.readyFd, &byte, 1);
            } while (n < 0 && errno == EINTR);
            close(child.readyFd);
            child.readyFd = -1;
            ready.push_back(n);
        }
        for (const Child& child : children) {
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random) / kWriters));
            ::kill(child.pid, SIGKILL);
        }
        for (std::size_t w = 0; w < children.size(); ++w) {
            const int kill = round * kWriters + static_cast<int>(w);
            int status = 0;
            waitpid(children[w].pid, &status, 0);
            children[w].pid = -1;
            ASSERT_EQ(ready[w], 1) << "kill " << kill << ": the writer " << describeExit(status).toStdString()
                                   << " before its first round";
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "kill " << kill << ": the writer " << describeExit(status).toStdString();
            expectWholeFiles(folders[static_cast<int>(w)], kill);
            if (HasFatalFailure())
                return;
        }
    }
}
