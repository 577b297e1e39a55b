#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace vennimo::test {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    // The answer that ended the wait is the one given: asking again could catch a state that was
    // passing, such as windows being torn down.
    for (;;) {
        if (done())
            return true;
        if (timer.elapsed() >= limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
}

} // namespace vennimo::test
