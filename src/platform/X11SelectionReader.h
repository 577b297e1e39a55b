#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>

#include <cstdint>
#include <memory>
#include <optional>

namespace vennimo {

// Reads what the owner of a selection converts it to, over an X connection of its own: a slow or
// silent owner costs no more than the caller's deadline, and an answer that comes after it goes
// nowhere. Qt's own reads of drop data wait up to a fixed five seconds for every type, on the
// main thread, and take no deadline.
class X11SelectionReader {
public:
    // Nothing unless the application runs on X11 and the display answers.
    static std::unique_ptr<X11SelectionReader> open();
    ~X11SelectionReader();
    X11SelectionReader(const X11SelectionReader&) = delete;
    X11SelectionReader& operator=(const X11SelectionReader&) = delete;

    // The selection as `target`, asked for with the time stamp `time`. Nothing when the owner
    // refuses, has not answered in full by the deadline, or offers more than `maxBytes`. A read
    // after one that ran out of time asks from a new window, so the late answer is never taken
    // for its own.
    std::optional<QByteArray> read(const char* selection, const QByteArray& target, std::uint32_t time,
                                   const QDeadlineTimer& deadline, qint64 maxBytes);
    // Learns the atoms of names that reads will use, all in one round trip. A read otherwise asks
    // the server for its names one by one, without a deadline, and a busy server takes that time
    // from the owner's answer.
    void learnNames(const QList<QByteArray>& names);

private:
    struct Connection;
    explicit X11SelectionReader(std::unique_ptr<Connection> connection);

    std::unique_ptr<Connection> m_connection;
    // The last read ran out of time or was cut off: its window may still receive an answer.
    bool m_spent = false;
};

} // namespace vennimo
