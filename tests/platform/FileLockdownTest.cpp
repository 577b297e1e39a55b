#include "platform/helper/FileLockdown.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vennimo {
namespace {

// What a child process tried after its lockdown, one bit each, set when the open went otherwise
// than it should; the exit status carries them back.
enum Wrong : int {
    kLockdownNotApplied = 1,
    kFileOpened = 2,
    kFifoOpened = 4,
    kTerminalOpened = 8,
    kFontOpenWrong = 16, // readable where it should not be, or the other way
    kFontWritable = 32,
    kFileCreated = 64,
    kOpenFileLost = 128,
};

// The exit status of `work` run in a forked child: the lockdown stays out of this process.
int inChild(const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

bool opens(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

class FileLockdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("fonts")));
        test::writeFile(m_dir.filePath("fonts/font.ttf"), "a font");
        test::writeFile(m_dir.filePath("secret.txt"), "private");
        ASSERT_EQ(::mkfifo(path("waiting").c_str(), 0600), 0);
    }
    void TearDown() override {
        // A reader the lockdown let through would still be waiting for a writer.
        const int writer = ::open(path("waiting").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    std::string path(const char* name) const { return QFile::encodeName(m_dir.filePath(name)).toStdString(); }

    // Every open a parser might make of a name it read, none of which may get through.
    int tryOpens() const {
        int wrong = 0;
        if (opens(path("secret.txt"), O_RDONLY))
            wrong |= kFileOpened;
        if (opens(path("waiting"), O_RDONLY | O_NONBLOCK))
            wrong |= kFifoOpened;
        if (opens("/dev/ptmx", O_RDWR | O_NOCTTY | O_NONBLOCK))
            wrong |= kTerminalOpened;
        if (opens(path("fonts/made.txt"), O_WRONLY | O_CREAT))
            wrong |= kFileCreated;
        if (opens(path("fonts/font.ttf"), O_WRONLY))
            wrong |= kFontWritable;
        return wrong;
    }

    QTemporaryDir m_dir;
};

TEST_F(FileLockdownTest, LandlockLeavesOnlyTheFontsReadable) {
    if (::syscall(444, nullptr, 0, 1) < 1)
        GTEST_SKIP() << "this kernel offers no Landlock; the seccomp test covers it";
    const QString fonts = m_dir.filePath("fonts");
    const int wrong = inChild([&] {
        const int held = ::open(path("secret.txt").c_str(), O_RDONLY | O_CLOEXEC);
        FileLockdown lockdown({fonts});
        if (!lockdown.keepsFontsReadable() || lockdown.apply() != FileLockdown::Kind::Landlock)
            return int(kLockdownNotApplied);
        int result = tryOpens();
        if (!opens(path("fonts/font.ttf"), O_RDONLY))
            result |= kFontOpenWrong;
        char byte = 0;
        if (::pread(held, &byte, 1, 0) != 1)
            result |= kOpenFileLost;
        return result;
    });
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(QFile::exists(m_dir.filePath("fonts/made.txt")));
}

TEST_F(FileLockdownTest, WithoutLandlockEveryOpenIsRefused) {
    const int wrong = inChild([&] {
        const int held = ::open(path("secret.txt").c_str(), O_RDONLY | O_CLOEXEC);
        if (!FileLockdown::refuseEveryOpen())
            return int(kLockdownNotApplied);
        int result = tryOpens();
        // The fonts too: nothing tells them apart from other files here.
        if (opens(path("fonts/font.ttf"), O_RDONLY) || errno != EACCES)
            result |= kFontOpenWrong;
        char byte = 0;
        if (::pread(held, &byte, 1, 0) != 1)
            result |= kOpenFileLost;
        return result;
    });
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(QFile::exists(m_dir.filePath("fonts/made.txt")));
}

} // namespace
} // namespace vennimo
