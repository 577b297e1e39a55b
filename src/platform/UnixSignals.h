#pragma once

#include <QList>
#include <QObject>

#include <thread>

namespace vennimo {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, where quitting is safe.
// The signal overtakes the work the main thread has queued: a rope busy with frame after frame
// would otherwise keep a session's end waiting for as long as it stays busy.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

    // Whether a signal was caught and waits for the main thread to take it. Thread-safe.
    static bool signalWaiting();

Q_SIGNALS:
    void terminationRequested(int signalNumber);

protected:
    bool event(QEvent* event) override;

private:
    void readSignals();
    void takeWaitingSignals();

    QList<int> m_signals;
    // Wakes the reading thread to end it.
    int m_stop[2] = {-1, -1};
    std::thread m_reader;
};

} // namespace vennimo
