#pragma once

#include <QImage>
#include <QRect>
#include <QtGlobal>

#include <memory>
#include <optional>

namespace vennimo::test {

// Looks at the screen at the moment a window's cut (its bounding shape) changes, before the
// program that owns it can draw again. Over a connection of its own it hears of each change; it
// then stops the program (SIGSTOP) and grabs the screen, so that what the change alone showed is
// what is seen, however fast the program would have drawn over it; the program goes on after.
// A program that shapes and draws under one server grab shows its drawing in the grab all the same.
class ShapeChangeGrab {
public:
    ShapeChangeGrab(quint32 window, qint64 pid);
    ~ShapeChangeGrab();
    bool connected() const;
    // Waits up to `waitMs` for the next change of the window's cut; then the screen's `area` as it
    // stood right after it. None when the cut did not change meanwhile.
    std::optional<QImage> next(const QRect& area, int waitMs);

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
    quint32 m_window;
    qint64 m_pid;
};

} // namespace vennimo::test
