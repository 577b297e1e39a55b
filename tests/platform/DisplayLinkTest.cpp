#include "platform/DisplayLink.h"

#include "platform/ProcessExit.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

using vennimo::DisplayLink;
using vennimo::ProcessExit;

// A frame of a rope of 10,000 prints takes a tenth of a second and more: one drawn while the
// process ends held the end for nothing anybody would see.
TEST(DisplayLink, DrawsNoFrameOnceTheProcessEnds) {
    int frames = 0;
    DisplayLink link([&frames](DisplayLink&) { ++frames; });
    link.start();
    ASSERT_TRUE(vennimo::test::waitUntil([&frames] { return frames >= 2; }));
    ProcessExit::announce();
    const int before = frames;
    vennimo::test::waitUntil([] { return false; }, std::chrono::milliseconds(200));
    const int after = frames;
    const bool running = link.isRunning();
    ProcessExit::resetForTesting();
    EXPECT_EQ(after, before) << "frames went on after the end was announced";
    EXPECT_FALSE(running);
}
