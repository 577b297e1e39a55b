#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace vennimo {

// A frame clock for animations: a precise 16 ms timer on the thread that owns it, with
// timestamps in seconds on a monotonic clock. It runs from start() until invalidate(), or until the
// process decides to end, and calls its callback once per frame; a frame due while a caught signal
// waits for the main thread is left out.
class DisplayLink : public QObject {
    Q_OBJECT

public:
    static constexpr int kFrameIntervalMilliseconds = 16;
    static constexpr double kFrameIntervalSeconds = kFrameIntervalMilliseconds / 1000.0;

    explicit DisplayLink(std::function<void(DisplayLink&)> callback, QObject* parent = nullptr);

    void start();
    void invalidate();
    bool isRunning() const;

    // The time of the current frame and the time its result is meant to be shown.
    double timestamp() const { return m_timestamp; }
    double targetTimestamp() const { return m_targetTimestamp; }

    // Delivers one frame with the given times (the timer uses the monotonic clock).
    void deliverFrame(double timestamp, double targetTimestamp);
    // Seconds on the clock the frames are stamped with.
    static double now();

private:
    std::function<void(DisplayLink&)> m_callback;
    QTimer m_timer;
    double m_timestamp = 0;
    double m_targetTimestamp = 0;
};

} // namespace vennimo
