#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

namespace vennimo::test {

// What the rope of a started application answers a drop from another program with (the source
// itself: SlowSource.h): its error banner and how long its main thread stood still.

// The band at the top of the rope window `window` where the rope's error banner comes, over what
// shows only backdrop otherwise.
QRect bannerBand(const QRect& window);
// The slowest answer of the program behind `windowId` to pings sent one after another for
// `seconds`: how long its main thread stood still at most.
qint64 longestPing(const QString& windowId, double seconds);
// The same until `done` holds and `thenSeconds` more have passed, or `limitSeconds` in all.
qint64 longestPingUntil(const QString& windowId, const std::function<bool()>& done, double thenSeconds,
                        double limitSeconds);
// The text of the rope's error banner, selected with three clicks into the primary selection.
QString bannerText(const QRect& window);

} // namespace vennimo::test
