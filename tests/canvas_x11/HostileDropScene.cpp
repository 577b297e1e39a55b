#include "HostileDropScene.h"

#include "ApplicationRope.h"
#include "WindowPing.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <functional>
#include <optional>

namespace vennimo::test {

// The band at the top of the rope window `window` where the rope's error banner comes, over what
// shows only backdrop otherwise.
QRect bannerBand(const QRect& window) {
    return QRect(window.x() + window.width() / 4, window.y() + 24, window.width() / 2, 30);
}

qint64 longestPingUntil(const QString& windowId, const std::function<bool()>& done, double thenSeconds,
                        double limitSeconds) {
    qint64 longest = 0;
    QElapsedTimer timer;
    timer.start();
    std::optional<qint64> doneAt;
    while (timer.elapsed() < qint64(limitSeconds * 1000)) {
        const std::optional<qint64> answer = pingWindow(windowId, 60'000);
        if (!answer)
            return 60'000;
        longest = std::max(longest, *answer);
        if (!doneAt && done())
            doneAt = timer.elapsed();
        if (doneAt && timer.elapsed() - *doneAt >= qint64(thenSeconds * 1000))
            break;
        QTest::qWait(50);
    }
    return longest;
}

qint64 longestPing(const QString& windowId, double seconds) {
    return longestPingUntil(
        windowId, [] { return true; }, seconds, seconds);
}

QString bannerText(const QRect& window) {
    const QPoint onBanner(window.x() + window.width() / 2 - 60, window.y() + 40);
    xdotool({"mousemove", QString::number(onBanner.x()), QString::number(onBanner.y())}, 200);
    xdotool({"click", "--repeat", "3", "--delay", "60", "1"}, 400);
    return runProgram("xclip", {"-o", "-selection", "primary"});
}

} // namespace vennimo::test
