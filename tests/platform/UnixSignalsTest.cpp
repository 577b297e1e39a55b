#include "platform/UnixSignals.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using vennimo::UnixSignals;

TEST(UnixSignals, TheHandlerLeavesTheInterruptedCodesErrnoAlone) {
    UnixSignals signals;
    // Nothing reads the socket here, so it fills up and the handler's write starts failing.
    for (int i = 0; i < 20'000; ++i) {
        errno = EDOM;
        ASSERT_EQ(raise(SIGTERM), 0);
        ASSERT_EQ(errno, EDOM) << "errno changed by the signal handler after " << i << " signals";
    }
}
