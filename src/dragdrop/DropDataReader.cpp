#include "dragdrop/DropDataReader.h"

#include "dragdrop/ExternalImageDrop.h"
#include "platform/X11Connection.h"
#include "platform/X11DropTime.h"
#include "platform/X11Selection.h"
#include "platform/X11SelectionReader.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QStringDecoder>

#include <algorithm>
#include <memory>

namespace vennimo {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kMozUrl = QStringLiteral("text/x-moz-url");
const QString kNetscapeUrl = QStringLiteral("_NETSCAPE_URL");

QStringList lines(const QString& text) {
    QStringList result;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QChar(0xFEFF)))
            line = line.mid(1).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            result.append(line);
    }
    return result;
}

QString decodeMozUrl(const QByteArray& bytes) {
    // Firefox and Chromium write UTF-16; some sources write UTF-8.
    if (bytes.contains('\0')) {
        auto decoder = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return decoder(bytes);
    }
    return QString::fromUtf8(bytes);
}

QDeadlineTimer earlier(const QDeadlineTimer& a, const QDeadlineTimer& b) {
    return a.deadlineNSecs() <= b.deadlineNSecs() ? a : b;
}

// Reads over a connection of its own, when another program owns the drag's selection on X11 and
// the time stamp to ask with is known.
DropDataFetch x11Fetch(std::optional<std::uint32_t> time, const QStringList& formats) {
    const std::optional<unsigned> owner = X11Selection::owner("XdndSelection");
    if (!owner || !time || X11Selection::ownWindow(*owner))
        return {};
    std::shared_ptr<X11SelectionReader> reader = X11SelectionReader::open();
    if (!reader)
        return {};
    QList<QByteArray> names{"XdndSelection", kMozUrl.toLatin1()};
    for (const QString& format : formats)
        names.append(format.toLatin1());
    reader->learnNames(names);
    return [reader, time = *time](const QString& type, const QDeadlineTimer& deadline) {
        const auto ask = [&](const QString& target) {
            return reader->read("XdndSelection", target.toLatin1(), time, deadline,
                                ExternalImageDrop::kMaxImageBytes);
        };
        std::optional<QByteArray> bytes = ask(type);
        // Qt lists the browsers' URL type as a URI list, and converts it when read through Qt.
        if (!bytes && type == kUriList)
            if (const auto moz = ask(kMozUrl))
                bytes = decodeMozUrl(*moz).section(QLatin1Char('\n'), 0, 0).toUtf8();
        return bytes;
    };
}

} // namespace

DropDataReader::DropDataReader(const QMimeData& data, QDeadlineTimer deadline, DropDataFetch fetch,
                               std::optional<QStringList> formats)
    : m_data(data)
    , m_fetch(std::move(fetch))
    , m_deadline(deadline)
    , m_formats(std::move(formats)) {}

DropDataReader DropDataReader::forDrop(const QMimeData& data, const QStringList& formats,
                                       QDeadlineTimer deadline, const DropDataFetch& fetch) {
    return DropDataReader(data, deadline, fetch ? fetch : x11Fetch(X11DropTime::last(), formats), formats);
}

bool DropDataReader::readsFromAnotherProgram() {
    const std::optional<unsigned> owner = X11Selection::owner("XdndSelection");
    return owner && !X11Selection::ownWindow(*owner);
}

DropDataReader DropDataReader::forHover(const QMimeData& data, QDeadlineTimer deadline) {
    // What the application still holds for the source, its answer to the drag's last position,
    // goes out before the question: a source busy answering sees that answer first.
    if (xcb_connection_t* c = X11Connection::get())
        xcb_flush(c);
    return DropDataReader(data, deadline, x11Fetch(X11DropTime::lastPosition(), {kUriList}));
}

QByteArray DropDataReader::read(const QString& type, QDeadlineTimer until) {
    m_lastRanOut = false;
    if (m_stalled || !offers(type))
        return {};
    const QDeadlineTimer deadline = earlier(m_deadline, until);
    if (deadline.hasExpired()) {
        m_lastRanOut = true;
        return {};
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray bytes = fetch(type, deadline);
    if (bytes.isEmpty() && deadline.hasExpired())
        m_lastRanOut = true;
    // Only through Qt: there the next type would wait as long again.
    if (!m_fetch && bytes.isEmpty() && timer.elapsed() >= ExternalImageDrop::kStalledReadMs)
        m_stalled = true;
    return bytes;
}

bool DropDataReader::offers(const QString& type) {
    if (!m_formats)
        m_formats = m_data.formats();
    return m_formats->contains(type);
}

QByteArray DropDataReader::fetch(const QString& type, const QDeadlineTimer& until) {
    if (!m_fetch)
        return m_data.data(type);
    return m_fetch(type, until).value_or(QByteArray());
}

QList<QUrl> DropDataReader::urls(QDeadlineTimer until) {
    QStringList texts = lines(QString::fromUtf8(read(kUriList, until)));
    bool ranOut = m_lastRanOut;
    if (texts.isEmpty()) {
        texts = lines(decodeMozUrl(read(kMozUrl, until))).mid(0, 1);
        ranOut = ranOut || m_lastRanOut;
    }
    if (texts.isEmpty()) {
        texts = lines(QString::fromUtf8(read(kNetscapeUrl, until))).mid(0, 1);
        ranOut = ranOut || m_lastRanOut;
    }
    m_lastRanOut = texts.isEmpty() && ranOut;
    QList<QUrl> result;
    for (const QString& text : texts) {
        // Some sources write file names unencoded; only the scheme and the local path are used.
        const QUrl url(text, QUrl::TolerantMode);
        if (url.isValid() && !url.scheme().isEmpty())
            result.append(url);
    }
    return result;
}

} // namespace vennimo
