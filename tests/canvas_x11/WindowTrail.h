#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QtGlobal>

#include <memory>
#include <optional>

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
        // Where each place and the going fall in the server's order of all reported events, so
        // that what two windows did can be told apart in time.
        QList<int> placeOrder;
        int goneOrder = -1;
        // The place it showed at just before the event `order`; none while it was not mapped then.
        std::optional<QRect> placeBefore(int order) const;
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
    // The window that followed the pointer toward `pointer` the farthest and stands still: a drag
    // picture. How many places it took tells nothing, nor does where it stopped: a busy program
    // merges the pointer's steps, and Qt moves its drag picture a step or two behind the pointer.
    // Polls until it has stood 300 ms, or `timeout` ms have gone.
    std::optional<Window> follower(QPoint pointer, int timeout = 10000);
    // The order of the last event read, to tell what came before a moment from what came after.
    int order() const { return m_order; }
    // What a window of 32 bits draws itself, read from the X server: its own pixels with their
    // alpha, not what the screen shows there. Null for any other window or one that cannot be read.
    QImage ownPixels(quint32 id) const;
    // The bounding shape the X server keeps for a window, in the window's own coordinates: what
    // of it shows. None for a window without one (all of it shows) or that cannot be read.
    std::optional<QRegion> boundingShape(quint32 id) const;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
    qint64 m_pid;
    QList<Window> m_windows;
    // Every window's last reported frame, mapped or not: a window moved just before it maps must
    // be followed from where it mapped, not from where it stands once the test reads it.
    QHash<quint32, QRect> m_frames;
    int m_order = 0;
};

} // namespace vennimo::test
