#pragma once

#include <QByteArray>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

namespace vennimo::test {

// The scene of a drop from another program onto the rope of a started application: where the
// source shows, the slow drag source of its own process, and what the rope answers.

// Where the test's drag sources show: below the rope window `window`, near the screen's left.
QRect sourceFrameBelow(const QRect& window);
// The band at the top of the rope window `window` where the rope's error banner comes, over what
// shows only backdrop otherwise.
QRect bannerBand(const QRect& window);
// Starts the slow drag source in `frame` with `arguments` and waits until it is ready to be
// dragged from, adding what it says to `said`; false when it did not start or never got ready.
bool startSlowSource(QProcess& source, const QRect& frame, const QStringList& arguments, QByteArray& said);
// Waits for the gesture to end and then for the source to say `word` of the drop's outcome,
// adding what it says to `said`.
bool awaitDropped(QProcess& gesture, QProcess& source, QByteArray& said, const QByteArray& word);
// The slowest answer of the program behind `windowId` to pings sent one after another for
// `seconds`: how long its main thread stood still at most.
qint64 longestPing(const QString& windowId, double seconds);
// The same until `done` holds and `thenSeconds` more have passed, or `limitSeconds` in all.
qint64 longestPingUntil(const QString& windowId, const std::function<bool()>& done, double thenSeconds,
                        double limitSeconds);
// The text of the rope's error banner, selected with three clicks into the primary selection.
QString bannerText(const QRect& window);

} // namespace vennimo::test
