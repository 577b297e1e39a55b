#include "support/TestEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Before Qt starts: every test process gets its own HOME and XDG folders, so nothing
    // reads or writes the user's files, Trash or settings.
    vennimo::test::TestEnvironment environment;
    // X11 suites run on the offscreen platform too when no display is there, and skip.
    if (qEnvironmentVariable("VENNIMO_TEST_LABEL") != QLatin1String("x11") ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
