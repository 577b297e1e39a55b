#pragma once

#include <QProcess>
#include <QScopeGuard>
#include <QString>

namespace vennimo::test {

// Helpers for tests that start the application under the test's X server. They keep clear of the
// names tests give their own xdotool wrappers, so any such test can use them.

// A folder of the given name for screenshots under the build's screenshot folder, made.
QString screenshotFolder(const QString& name);
// The application's "defaults.json" in the test home, which a test writes to start it with
// settings of its own.
QString defaultsFile();
// The X id of the first visible window whose name matches the pattern; empty when none shows.
QString windowNamed(const QString& pattern);
// Starts the application with both its channels passed on; false when it did not start.
bool launchApplication(QProcess& app);
// Ends the application when the test does, however it ends.
[[nodiscard]] inline auto stopAtEnd(QProcess& app) {
    return qScopeGuard([&app] {
        app.kill();
        app.waitForFinished();
    });
}

} // namespace vennimo::test
