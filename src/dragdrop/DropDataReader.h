#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QMimeData;

namespace vennimo {

// Reads one type of a drag's data by the deadline: nothing when the source refused it or had not
// answered in full by then.
using DropDataFetch =
    std::function<std::optional<QByteArray>(const QString& type, const QDeadlineTimer& deadline)>;

// Reads a drag's data one type at a time, all reads within one time, on the main thread. Qt asks
// the source for each type on its own and waits up to its selection time-out (five seconds,
// fixed) for every answer: after one answer came back empty that late, the source has stopped
// answering, and no other type is asked for. Data that another program offers on X11 is read over
// a connection of our own instead, where no read waits past the time it is given, and a type the
// source never answers costs no more than that time: the other types are still asked for.
class DropDataReader {
public:
    // Through Qt, unless `fetch` reads. `formats` are the data's types when the caller has them.
    DropDataReader(const QMimeData& data, QDeadlineTimer deadline, DropDataFetch fetch = {},
                   std::optional<QStringList> formats = std::nullopt);

    // The drop being handled, with the drop's time stamp; `formats` are the data's types.
    static DropDataReader forDrop(const QMimeData& data, const QStringList& formats, QDeadlineTimer deadline,
                                  const DropDataFetch& fetch = {});
    // A drag moving over us, with the time stamp of its last position.
    static DropDataReader forHover(const QMimeData& data, QDeadlineTimer deadline);
    // Whether reading the current drag's data asks another program on X11, which answers in its
    // own time, rather than Qt within this one.
    static bool readsFromAnotherProgram();

    // The type's data; empty when the source gave none, or did not answer by the reader's
    // deadline or by `until`, whichever comes first.
    QByteArray read(const QString& type, QDeadlineTimer until = QDeadlineTimer(QDeadlineTimer::Forever));
    // The dropped URLs in the order offered: the URI list, else the first line of the browsers'
    // URL types.
    QList<QUrl> urls(QDeadlineTimer until = QDeadlineTimer(QDeadlineTimer::Forever));

    // Whether the last read, or the last `urls`, came back empty for lack of time.
    bool lastRanOut() const { return m_lastRanOut; }
    // Whether every read ends by its deadline; through Qt one may take Qt's whole time-out.
    bool bounded() const { return bool(m_fetch); }
    const QDeadlineTimer& deadline() const { return m_deadline; }

private:
    QByteArray fetch(const QString& type, const QDeadlineTimer& until);
    bool offers(const QString& type);

    const QMimeData& m_data;
    DropDataFetch m_fetch;
    QDeadlineTimer m_deadline;
    // Qt names a drag's types by asking the X server about each of them whenever they are looked
    // at: a round trip per type, which on a busy display ate the time of the reads themselves.
    std::optional<QStringList> m_formats;
    bool m_stalled = false;
    bool m_lastRanOut = false;
};

} // namespace vennimo
