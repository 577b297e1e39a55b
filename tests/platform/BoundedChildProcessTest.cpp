#include "platform/BoundedChildProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>

namespace vennimo {
namespace {

using namespace std::chrono_literals;

// A child that tells its process id and then waits without end, using no processor time.
BoundedChildProcess::Work waitingChild(const std::string& pidFile) {
    return [pidFile](BoundedChildAnswer&) {
        const int fd = ::open(pidFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const std::string pid = std::to_string(::getpid());
        BoundedChildProcess::writeAll(fd, pid.data(), pid.size());
        ::close(fd);
        for (;;)
            ::pause();
    };
}

bool alive(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) == 0;
}

TEST(BoundedChildProcessTest, AChildThatWaitsIsKilledAtItsDeadlineAndAtAStop) {
    QTemporaryDir dir;
    const std::string pidFile = dir.filePath(QStringLiteral("child.pid")).toStdString();
    BoundedChildLimits limits;
    limits.deadline = 300ms;
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "past its deadline");
        QFile::remove(QString::fromStdString(pidFile));
        if (stopped)
            limits.deadline = 60s;
        const auto started = std::chrono::steady_clock::now();
        const auto stop = [stopped, started] {
            return stopped && std::chrono::steady_clock::now() - started > 300ms;
        };
        auto running = std::async(std::launch::async, [&] {
            return BoundedChildProcess::run(waitingChild(pidFile), 16, limits, stop);
        });
        const auto childPid = [&pidFile] {
            QFile file(QString::fromStdString(pidFile));
            return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().toInt()) : pid_t(0);
        };
        // A run that waits for its child without end is freed by killing the child here, so that
        // the test reports it instead of hanging.
        if (running.wait_for(20s) != std::future_status::ready) {
            ADD_FAILURE() << "the run waited for its child past its deadline";
            ::kill(childPid(), SIGKILL);
        }
        const auto result = running.get();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().sysErrno == ECANCELED, stopped);
        const pid_t pid = childPid();
        ASSERT_GT(pid, 0) << "the child ran";
        EXPECT_FALSE(alive(pid)) << "the child was left behind";
    }
}

void ignoreSignal(int) {}

// The application catches these to end in order; a child that kept its handlers would take a
// hang-up or a Ctrl+C meant for it as the application's and go on until its deadline.
TEST(BoundedChildProcessTest, AChildEndsAtTheSignalsTheApplicationCatches) {
    for (const int number : {SIGHUP, SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        struct sigaction caught {};
        caught.sa_handler = ignoreSignal;
        sigemptyset(&caught.sa_mask);
        struct sigaction before {};
        ASSERT_EQ(::sigaction(number, &caught, &before), 0);
        QElapsedTimer running;
        running.start();
        const auto answer = BoundedChildProcess::run(
            [number](BoundedChildAnswer&) {
                ::raise(number);
                for (;;)
                    ::pause();
            },
            1, BoundedChildLimits{.deadline = std::chrono::seconds(5)});
        ::sigaction(number, &before, nullptr);
        EXPECT_FALSE(answer.ok());
        EXPECT_LT(running.elapsed(), 2500) << "the child outlived the signal until its deadline";
    }
}

} // namespace
} // namespace vennimo
