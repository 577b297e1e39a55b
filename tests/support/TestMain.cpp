#include "platform/ProcessExit.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// Each test after the first gets a fresh home, so tests run together in one process (a developer
// running a test program directly) see no files of the tests before them.
class FreshHomePerTest : public ::testing::EmptyTestEventListener {
public:
    explicit FreshHomePerTest(vennimo::test::TestEnvironment& environment)
        : m_environment(environment) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        if (m_started++ > 0)
            m_environment.renew();
        // A test that quit the application leaves decoding to the next one.
        vennimo::ProcessExit::resetForTesting();
    }

private:
    vennimo::test::TestEnvironment& m_environment;
    int m_started = 0;
};

} // namespace

int main(int argc, char** argv) {
    // Before Qt starts: every test process gets its own HOME and XDG folders, so nothing
    // reads or writes the user's files, Trash or settings.
    vennimo::test::TestEnvironment environment;
    // X11 suites run on the offscreen platform too when no display is there, and skip.
    if (qEnvironmentVariable("VENNIMO_TEST_LABEL") != QLatin1String("x11") ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // On a desktop at a high DPI (x11-session's VENNIMO_X11_DPI) the application under test draws
    // at its scale, while the test measures in the X server's pixels, as xdotool and its grabs do;
    // the programs it starts are not told to do the same.
    const bool highDpiDesktop = !qEnvironmentVariableIsEmpty("VENNIMO_X11_DPI");
    if (highDpiDesktop)
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    if (highDpiDesktop)
        qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomePerTest(environment));
    return RUN_ALL_TESTS();
}
