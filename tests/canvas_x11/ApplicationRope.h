#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include "support/ScreenGrab.h"

#include <optional>

namespace vennimo::test {

// Helpers for tests that run the application itself under the test's X server.

// Where the application puts its rope window at first: centred, 40 points below the top of the
// screen, with a margin around it.
QRect ropeArea();
// The folder for the application's screenshots under the build folder.
QString applicationShots();
// Starts the application in the test's temporary home.
void startApplication(QProcess& app);
// The frames of the application's visible top-level windows but its tray icon, and of the widest one, its
// rope window; none when it shows nothing.
QList<QRect> applicationWindows(qint64 pid);
std::optional<QRect> applicationWindow(qint64 pid);
// Runs xdotool with the arguments and waits a little for the pointer routing to follow.
bool xdotool(const QStringList& arguments, int settleMs = 60);

} // namespace vennimo::test
