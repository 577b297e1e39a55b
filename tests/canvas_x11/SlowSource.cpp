#include "SlowSource.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

namespace vennimo::test {

QRect sourceFrameBelow(const QRect& window) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return QRect(screen.x() + 120, window.bottom() + 60, 200, 150);
}

bool startSlowSource(QProcess& source, const QRect& frame, const QStringList& arguments, QByteArray& said) {
    source.setProcessChannelMode(QProcess::SeparateChannels);
    source.start(VENNIMO_SLOW_DRAG_SOURCE,
                 QStringList{QString::number(frame.x()), QString::number(frame.y())} + arguments);
    return source.waitForStarted() &&
           QTest::qWaitFor([&] { return (said += source.readAllStandardOutput()).contains("ready"); }, 10000);
}

bool awaitDropped(QProcess& gesture, QProcess& source, QByteArray& said, const QByteArray& word) {
    const auto hears = [&](const QByteArray& what, int ms) {
        return QTest::qWaitFor([&] { return (said += source.readAllStandardOutput()).contains(what); }, ms);
    };
    if (!QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 15000) ||
        !hears(word, 10000))
        return false;
    // The source's drag ends as it sends the drop, with the answer the target gave the pointer's
    // last position: the target reads the drop's data only after that, and says it is done with
    // XdndFinished. A source gone before then leaves the target nothing to read.
    return !said.contains("dropped copy") || hears("finished", 30000);
}

} // namespace vennimo::test
