#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include "support/ScreenGrab.h"

#include <QJsonObject>
#include <QMap>

#include <functional>
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
// The frames of the application's visible top-level windows, and of the widest one, its rope
// window; none when it shows nothing.
QList<QRect> applicationWindows(qint64 pid);
std::optional<QRect> applicationWindow(qint64 pid);
// Runs xdotool with the arguments and waits a little for the pointer routing to follow.
bool xdotool(const QStringList& arguments, int settleMs = 60);

// The application's storage folder in the test's home, and one of its JSON files.
QString storage();
QJsonObject readJson(const QString& path);
// Placement x by record key.
QMap<QString, double> placements();
// How many photos the line history marks as taken down.
int takenDown();
// The peg of the print at x on the rope of the rope window `window` as it rests under prints at
// `loads`.
QPoint pegPoint(const QRect& window, double x, const QList<double>& loads);
// The X id of the application's widest window, its rope window.
QString widestWindowId(qint64 pid);
// Press at `from`, move in steps to `to`, optionally shoot at the end of the way, release (or,
// with `finish`, let it end the gesture instead, for instance with Escape).
void pegGesture(QPoint from, QPoint to, const std::function<void()>& halfway = {},
                const std::function<void()>& finish = {});

} // namespace vennimo::test
