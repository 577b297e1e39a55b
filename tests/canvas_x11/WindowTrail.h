#pragma once

#include <QList>
#include <QRect>
#include <QtGlobal>

#include <memory>

namespace vennimo::test {

// Follows, over a connection of its own, the windows a program puts straight on the screen
// (override-redirect ones: drag pictures, panels, popups) from a mark on: where each showed and
// every place it moved to until it went. Events come in the server's order, so nothing the
// program did before the mark counts, however late the test reads it.
class WindowTrail {
public:
    struct Window {
        quint32 id = 0;
        // Each place it showed at, in order; the first is where it was mapped.
        QList<QRect> places;
        bool gone = false;
    };

    explicit WindowTrail(qint64 pid);
    ~WindowTrail();
    bool connected() const;
    // Forgets everything so far: only windows the program maps from now on are followed.
    void mark();
    // Reads what the server has reported; answers whether anything new came.
    bool poll();
    // The program's windows mapped since the mark.
    const QList<Window>& windows() const { return m_windows; }

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
    qint64 m_pid;
    QList<Window> m_windows;
};

} // namespace vennimo::test
