#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace vennimo {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, where quitting is safe.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_signals;
};

} // namespace vennimo
