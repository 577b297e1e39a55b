#include "platform/DisplayLink.h"

#include "platform/ProcessExit.h"
#include "platform/UnixSignals.h"

namespace vennimo {

DisplayLink::DisplayLink(std::function<void(DisplayLink&)> callback, QObject* parent)
    : QObject(parent)
    , m_callback(std::move(callback)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameIntervalMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        // A frame drawn while the process ends is never seen, and one of a rope of many prints
        // holds the end for as long as it takes.
        if (ProcessExit::announced()) {
            m_timer.stop();
            return;
        }
        // A signal waits to be taken: the frame comes after it, and the next after the answer.
        if (UnixSignals::signalWaiting())
            return;
        const double time = now();
        deliverFrame(time, time + kFrameIntervalSeconds);
    });
}

void DisplayLink::start() {
    m_timer.start();
}

void DisplayLink::invalidate() {
    m_timer.stop();
}

bool DisplayLink::isRunning() const {
    return m_timer.isActive();
}

void DisplayLink::deliverFrame(double timestamp, double targetTimestamp) {
    m_timestamp = timestamp;
    m_targetTimestamp = targetTimestamp;
    if (m_callback)
        m_callback(*this);
}

double DisplayLink::now() {
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace vennimo
