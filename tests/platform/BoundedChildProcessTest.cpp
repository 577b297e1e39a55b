#include "platform/BoundedChildProcess.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace vennimo {
namespace {

void ignoreSignal(int) {}

// The application catches these to end in order; a child that kept its handlers would take a
// hang-up or a Ctrl+C meant for it as the application's and go on until its deadline.
TEST(BoundedChildProcess, AChildEndsAtTheSignalsTheApplicationCatches) {
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
