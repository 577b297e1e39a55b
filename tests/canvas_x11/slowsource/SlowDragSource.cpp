// A drag source of its own process that answers requests for its data as it is told. It shows a
// window at X,Y and prints "ready" once it is on screen; a press in it starts the drag, and
// "dropped copy" (or "dropped none") once the drag ended.
//   slow_drag_source X Y COUNT DELAY
// offers COUNT image types ("image/x-..."), each answered after DELAY milliseconds with bytes that
// are no picture, blocking the whole program meanwhile; each answer is told ("answered TYPE").
//   slow_drag_source X Y TYPE=ANSWER...
// offers the given types; ANSWER is "never" (the request is left without any answer, while the
// program goes on answering others), "png" (a whole PNG), "cutpng" (the first half of it), "jpeg"
// (a whole JPEG), "badpng" (a PNG whose chunks are whole but whose pixel data does not decode),
// "bigpng" (a PNG of about 1 MB, sent in pieces of 64 KB as large answers go, INCR),
// "late:MS:png" (a whole PNG MS milliseconds after it was asked for, the program answering others
// meanwhile), "file:PATH" (the bytes of that file), "text:..." (those bytes) or "slow:MS:..."
// (those bytes after MS milliseconds, the whole program waiting meanwhile). Every request is told ("asked
// TYPE"), and so is the target's word that it finished the drop ("finished copy", "finished
// refused"), which comes after "dropped". "watch=X,Y,W,H" times the target's status answers to the pointer's
// arrival in that rectangle. "exit=MS" ends the program MS milliseconds after a target first answered the
// drag (in the watched rectangle, when one is given), in the middle of its drag: no XdndLeave or XdndDrop is
// ever sent, as when a program crashes.
#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QDrag>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtEndian>

#include <QAbstractNativeEventFilter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <xcb/xcb.h>

namespace {

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class SlowData : public QMimeData {
public:
    SlowData(int count, int delayMs)
        : m_delayMs(delayMs) {
        // Names of real formats first, so that a reader which keeps to the formats it can decode
        // still meets slow answers; made-up ones make up the count.
        const QStringList known{"image/x-portable-pixmap",
                                "image/x-portable-graymap",
                                "image/x-portable-bitmap",
                                "image/x-xpixmap",
                                "image/x-xbitmap",
                                "image/x-bmp",
                                "image/x-ms-bmp",
                                "image/x-tga",
                                "image/x-icns",
                                "image/x-icon",
                                "image/x-win-bitmap",
                                "image/x-exr"};
        for (int i = 0; i < count; ++i)
            m_types.append(i < known.size() ? known[i] : QString("image/x-slow-%1").arg(i));
    }
    QStringList formats() const override { return m_types; }
    bool hasFormat(const QString& type) const override { return m_types.contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        QThread::msleep(m_delayMs);
        say("answered " + type);
        return QByteArray("this is no picture, only a slow answer");
    }

private:
    QStringList m_types;
    int m_delayMs;
};

// Drawn into each run's pictures. The import saves a picture under its digest, so two runs that
// dropped the same bytes would show one file: the process id alone repeats its hue every 360 runs.
quint32 runMark() {
    static const quint32 mark = QRandomGenerator::system()->generate() | 1u;
    return mark;
}

// Each run draws its own picture, so that no two runs drop the same bytes.
QByteArray picture(const char* format) {
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(runMark() % 360), 160, 150));
    QPainter painter(&image);
    painter.fillRect(20, 20, 60, 50, QColor(230, 200, 40));
    // The mark's bits as squares big enough to outlast JPEG's rounding.
    for (int bit = 0; bit < 32; ++bit)
        painter.fillRect(bit % 16 * 10, 100 + bit / 16 * 10, 10, 10,
                         (runMark() >> bit) & 1u ? Qt::black : Qt::white);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Noise the PNG encoder cannot shrink: about 1 MB.
QByteArray bigPicture() {
    QImage image(600, 580, QImage::Format_RGB32);
    quint32 seed = runMark();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            line[x] = 0xff000000u | (seed & 0xffffffu);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A PNG whose chunk lengths still reach IEND but whose compressed pixels are spoilt.
QByteArray spoiltPicture() {
    QByteArray png = picture("PNG");
    const qsizetype data = png.indexOf("IDAT") + 4;
    const qsizetype length = qFromBigEndian<quint32>(png.constData() + data - 8);
    for (qsizetype i = data + 2; i < data + std::min<qsizetype>(length, 40); ++i)
        png[i] = char(png[i] ^ 0x5a);
    return png;
}

// The types offered, each with its bytes, or none for a type never answered.
using Offers = QList<std::pair<QString, std::optional<QByteArray>>>;

class ToldData : public QMimeData {
public:
    ToldData(Offers offers, QHash<QString, int> slowMs)
        : m_offers(std::move(offers))
        , m_slowMs(std::move(slowMs)) {}
    QStringList formats() const override {
        QStringList types;
        for (const auto& offer : m_offers)
            types.append(offer.first);
        return types;
    }
    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        QThread::msleep(m_slowMs.value(type));
        for (const auto& offer : m_offers)
            if (offer.first == type)
                return offer.second.value_or(QByteArray());
        return QByteArray();
    }

private:
    Offers m_offers;
    QHash<QString, int> m_slowMs;
};

// Sees the drag's selection requests before Qt answers them; those of a type never to be answered
// go no further. It also times how long the target took to answer the pointer's arrival in
// `watched` (screen coordinates) with its status: from the first move there after the last
// status to the next status ("status after N ms").
class RequestFilter : public QAbstractNativeEventFilter {
public:
    // Answers this program gives itself instead of Qt: late, or in pieces.
    struct Own {
        QByteArray bytes;
        int lateMs = 0;
        bool pieces = false;
    };

    RequestFilter(xcb_connection_t* c, QStringList never, QRect watched, QHash<QString, Own> own, int exitMs)
        : m_c(c)
        , m_never(std::move(never))
        , m_watched(watched)
        , m_own(std::move(own))
        , m_exitMs(exitMs) {
        m_incr = atom("INCR");
        m_clock.start();
        m_status = atom("XdndStatus");
        m_finished = atom("XdndFinished");
        m_copy = atom("XdndActionCopy");
        // Qt takes the pointer's motion through XInput 2; where it is, is enough here.
        m_last = QCursor::pos();
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            const QPoint at = QCursor::pos();
            if (!m_watched.contains(at))
                m_pendingSince = -1;
            else if (at != m_last && m_pendingSince < 0)
                m_pendingSince = m_clock.elapsed();
            m_last = at;
        });
        m_poll.start(5);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto* client = static_cast<const xcb_client_message_event_t*>(message);
            // The drag itself ends as the drop goes out; the target tells afterwards what it did.
            if (client->type == m_finished) {
                const bool accepted = (client->data.data32[1] & 1u) != 0;
                say(!accepted                          ? "finished refused"
                    : client->data.data32[2] == m_copy ? "finished copy"
                                                       : "finished other");
            }
            if (client->type == m_status && m_pendingSince >= 0) {
                say(QString("status after %1 ms").arg(m_clock.elapsed() - m_pendingSince));
                m_pendingSince = -1;
            }
            if (client->type == m_status && m_exitMs >= 0 && !m_exiting &&
                (m_watched.isEmpty() || m_watched.contains(QCursor::pos()))) {
                m_exiting = true;
                QTimer::singleShot(m_exitMs, [] {
                    say("exit");
                    std::_Exit(0);
                });
            }
            return false;
        }
        case XCB_SELECTION_REQUEST: {
            const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
            const QString target = atomName(request->target);
            say("asked " + target);
            if (m_own.contains(target)) {
                answerOwn(*request, m_own.value(target));
                return true;
            }
            return m_never.contains(target);
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
            if (notify->state == XCB_PROPERTY_DELETE)
                sendPiece(notify->window, notify->atom);
            return false;
        }
        default:
            return false;
        }
    }

private:
    // One answer sent in pieces: the requestor deletes the property for each next piece, and an
    // empty piece ends it.
    struct Transfer {
        xcb_atom_t type = XCB_ATOM_NONE;
        QByteArray rest;
        bool ended = false;
    };
    static constexpr qsizetype kPieceBytes = 65536;

    xcb_atom_t atom(const char* name) const {
        auto* reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = request.time;
        n.requestor = request.requestor;
        n.selection = request.selection;
        n.target = request.target;
        n.property = property;
        xcb_send_event(m_c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
        xcb_flush(m_c);
    }

    void answerOwn(const xcb_selection_request_event_t& request, const Own& own) {
        if (own.lateMs > 0) {
            // The requestor may be gone by then: the error that brings is no concern here.
            QTimer::singleShot(own.lateMs, [this, request, bytes = own.bytes] {
                xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    request.target, 8, uint32_t(bytes.size()), bytes.constData());
                notify(request, request.property);
                say("answered late " + atomName(request.target));
            });
            return;
        }
        const uint32_t size = uint32_t(own.bytes.size());
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_c, request.requestor, XCB_CW_EVENT_MASK, &events);
        m_transfers.insert({request.requestor, request.property}, Transfer{request.target, own.bytes});
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, m_incr, 32, 1,
                            &size);
        notify(request, request.property);
    }

    void sendPiece(xcb_window_t window, xcb_atom_t property) {
        const auto key = std::pair{window, property};
        if (!m_transfers.contains(key))
            return;
        Transfer& transfer = m_transfers[key];
        if (transfer.ended) {
            m_transfers.remove(key);
            say("answered in pieces");
            return;
        }
        const QByteArray piece = transfer.rest.left(kPieceBytes);
        transfer.rest.remove(0, piece.size());
        transfer.ended = piece.isEmpty();
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, property, transfer.type, 8,
                            uint32_t(piece.size()), piece.constData());
        xcb_flush(m_c);
    }

    QString atomName(xcb_atom_t atom) const {
        auto* reply = xcb_get_atom_name_reply(m_c, xcb_get_atom_name(m_c, atom), nullptr);
        if (reply == nullptr)
            return {};
        const QString name =
            QString::fromLatin1(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
        std::free(reply);
        return name;
    }

    xcb_connection_t* m_c;
    QStringList m_never;
    QRect m_watched;
    QHash<QString, Own> m_own;
    QHash<std::pair<xcb_window_t, xcb_atom_t>, Transfer> m_transfers;
    xcb_atom_t m_incr = XCB_ATOM_NONE;
    QElapsedTimer m_clock;
    QTimer m_poll;
    QPoint m_last;
    xcb_atom_t m_status = XCB_ATOM_NONE;
    xcb_atom_t m_finished = XCB_ATOM_NONE;
    xcb_atom_t m_copy = XCB_ATOM_NONE;
    qint64 m_pendingSince = -1;
    int m_exitMs = -1;
    bool m_exiting = false;
};

class Source : public QWidget {
public:
    Source(QString label, std::function<QMimeData*()> make)
        : m_label(std::move(label))
        , m_make(std::move(make)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(90, 60, 110));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_label);
    }
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        drag->setMimeData(m_make());
        QPixmap pixmap(48, 36);
        pixmap.fill(QColor(200, 120, 40));
        drag->setPixmap(pixmap);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        say(action == Qt::CopyAction ? "dropped copy" : "dropped none");
    }

private:
    QString m_label;
    std::function<QMimeData*()> m_make;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    std::unique_ptr<Source> source;
    std::unique_ptr<RequestFilter> filter;
    if (!args[3].contains('=')) {
        if (args.size() != 5)
            return 2;
        const int count = args[3].toInt(), delayMs = args[4].toInt();
        source = std::make_unique<Source>(QString("%1 slow types").arg(count),
                                          [count, delayMs] { return new SlowData(count, delayMs); });
    } else {
        Offers offers;
        QStringList never;
        QRect watched;
        QHash<QString, int> slowMs;
        QHash<QString, RequestFilter::Own> own;
        int exitMs = -1;
        for (const QString& arg : args.mid(3)) {
            const QString type = arg.section('=', 0, 0), answer = arg.section('=', 1);
            if (type == "exit") {
                exitMs = answer.toInt();
            } else if (type == "watch") {
                const QStringList n = answer.split(',');
                if (n.size() == 4)
                    watched = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
            } else if (answer == "never") {
                never.append(type);
                offers.append({type, std::nullopt});
            } else if (answer == "png") {
                offers.append({type, picture("PNG")});
            } else if (answer == "cutpng") {
                const QByteArray whole = picture("PNG");
                offers.append({type, whole.left(whole.size() / 2)});
            } else if (answer == "badpng") {
                offers.append({type, spoiltPicture()});
            } else if (answer == "bigpng") {
                own.insert(type, {bigPicture(), 0, true});
                offers.append({type, QByteArray()});
            } else if (answer.startsWith("late:")) {
                own.insert(type, {picture("PNG"), answer.section(':', 1, 1).toInt(), false});
                offers.append({type, QByteArray()});
            } else if (answer == "jpeg") {
                offers.append({type, picture("JPEG")});
            } else if (answer.startsWith("file:")) {
                QFile file(answer.mid(5));
                if (!file.open(QIODevice::ReadOnly))
                    return 2;
                offers.append({type, file.readAll()});
            } else if (answer.startsWith("text:")) {
                offers.append({type, answer.mid(5).toUtf8()});
            } else if (answer.startsWith("slow:")) {
                // "slow:MS:TEXT": the whole program waits MS before it answers, as a busy one does.
                offers.append({type, answer.section(':', 2).toUtf8()});
                slowMs.insert(type, answer.section(':', 1, 1).toInt());
            } else {
                return 2;
            }
        }
        auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
        if (x11 == nullptr)
            return 3;
        filter = std::make_unique<RequestFilter>(x11->connection(), never, watched, own, exitMs);
        app.installNativeEventFilter(filter.get());
        source = std::make_unique<Source>(args.mid(3).join('\n'),
                                          [offers, slowMs] { return new ToldData(offers, slowMs); });
    }
    source->setWindowTitle("slow drag source");
    source->setGeometry(args[1].toInt(), args[2].toInt(), 200, 150);
    source->show();
    QTimer::singleShot(800, [] { say("ready"); });
    return QApplication::exec();
}
