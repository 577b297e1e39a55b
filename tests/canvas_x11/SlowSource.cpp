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
    return QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 15000) &&
           QTest::qWaitFor([&] { return (said += source.readAllStandardOutput()).contains(word); }, 10000);
}

} // namespace vennimo::test
