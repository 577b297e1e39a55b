#include "../dragdrop/DropTestHelpers.h"

#include "dragdrop/XdsPromiseReceiver.h"
#include "platform/X11DropTime.h"
#include "platform/X11SelectionReader.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstring>
#include <functional>
#include <thread>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;
using Kind = Source::Kind;

namespace {

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// A window of `c` that owns the drag selection and suggests `name` for the promised file.
xcb_window_t ownDrag(xcb_connection_t* c, const QByteArray& name) {
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                      0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern(c, "XdndDirectSave0"),
                        intern(c, "text/plain"), 8, uint32_t(name.size()), name.constData());
    xcb_set_selection_owner(c, window, intern(c, "XdndSelection"), XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
    return window;
}

// Events go out as the 32 bytes X sends, whatever their own size.
template <class Event>
void post(xcb_connection_t* c, xcb_window_t to, const Event& event) {
    char bytes[32] = {};
    std::memcpy(bytes, &event, sizeof event);
    xcb_send_event(c, 0, to, XCB_EVENT_MASK_NO_EVENT, bytes);
    xcb_flush(c);
}

void send(xcb_connection_t* c, xcb_window_t to, const char* type, std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{XCB_CLIENT_MESSAGE, 32, 0, to, intern(c, type), {}};
    std::memcpy(event.data.data32, data.data(), sizeof event.data.data32);
    post(c, to, event);
}

void answer(xcb_connection_t* c, const xcb_selection_request_event_t& request, const QByteArray& data) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, request.target, 8,
                        uint32_t(data.size()), data.constData());
    post(c, request.requestor,
         xcb_selection_notify_event_t{XCB_SELECTION_NOTIFY, 0, 0, request.time, request.requestor,
                                      request.selection, request.target, request.property});
}

// A drag source of the test's own on a second X connection: it drags an X Direct Save promise and
// up to two `offers` onto a window, drops, and answers the target's requests as real sources do.
// With `fileBytes` it writes the promised file where it is asked to and answers "S", otherwise
// "F", as browsers do.
struct XdsSource {
    QByteArray suggestedName{}, fileBytes{};
    QMap<QByteArray, QByteArray> offers{};
    QByteArray requestedUri{}; // read it only once `finished`
    std::atomic<bool> finished{false};
    std::jthread thread{};

    // As the protocol asks, the file is whole on disk before "S" goes out: QFile keeps small writes
    // in its buffer until closed, and the target reads the file as soon as it sees the answer.
    bool writePromised(const QByteArray& uri) const {
        QFile file(QUrl::fromEncoded(uri).toLocalFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(fileBytes) != fileBytes.size())
            return false;
        file.close();
        return file.error() == QFileDevice::NoError;
    }

    void run(xcb_window_t target, QPoint at) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t window = ownDrag(c, suggestedName);
        const xcb_atom_t directSave = intern(c, "XdndDirectSave0");
        std::array<uint32_t, 5> enter{window, 5u << 24, directSave, XCB_ATOM_NONE, XCB_ATOM_NONE};
        QMap<xcb_atom_t, QByteArray> data;
        for (auto [it, slot] = std::pair{offers.cbegin(), 3}; it != offers.cend() && slot < 5; ++it)
            data.insert(enter[slot++] = intern(c, it.key().constData()), it.value());
        send(c, target, "XdndEnter", enter);
        send(c, target, "XdndPosition",
             {window, 0, uint32_t(at.x()) << 16 | uint32_t(at.y()), XCB_CURRENT_TIME,
              intern(c, "XdndActionCopy")});
        bool dropped = false;
        for (const auto deadline = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < deadline;) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c),
                                                                             &std::free);
            const uint8_t kind = event ? event->response_type & 0x7F : 0;
            if (kind == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
                if (message->type == intern(c, "XdndFinished"))
                    break;
                if (!dropped && message->type == intern(c, "XdndStatus") && (message->data.data32[1] & 1)) {
                    dropped = true;
                    send(c, target, "XdndDrop", {window, 0, XCB_CURRENT_TIME, 0, 0});
                }
            } else if (kind == XCB_SELECTION_REQUEST) {
                const auto& request = *reinterpret_cast<xcb_selection_request_event_t*>(event.get());
                if (request.target != directSave) {
                    answer(c, request, data.value(request.target));
                    continue;
                }
                // Where the target wants the file; written there when the script says so.
                auto* property = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, window, directSave, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                    nullptr);
                requestedUri = QByteArray(static_cast<const char*>(xcb_get_property_value(property)),
                                          xcb_get_property_value_length(property));
                std::free(property);
                answer(c, request, fileBytes.isEmpty() ? "F" : writePromised(requestedUri) ? "S" : "E");
            } else if (!event) {
                std::this_thread::sleep_for(2ms);
            }
        }
        xcb_disconnect(c);
        finished = true;
    }
};

// A window that takes every drop and snapshots it inside the drop handler, as the rope does.
struct DropTarget : QWidget {
    std::optional<ExternalImageDrop::Snapshot> snapshot;
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        snapshot = ExternalImageDrop::snapshot(*event->mimeData());
        event->acceptProposedAction();
    }
};

class XdsReceiver : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != u"xcb"_s)
            GTEST_SKIP() << "needs an X server";
        qputenv("TMPDIR", QFile::encodeName(makeFolder(u"tmp"_s)));
    }

    // Drags from `source` onto a fresh target; answers the snapshot its drop handler took.
    static ExternalImageDrop::Snapshot drop(XdsSource& source) {
        DropTarget target;
        target.setAcceptDrops(true);
        target.resize(300, 200);
        target.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
        source.thread = std::jthread(&XdsSource::run, &source, xcb_window_t(target.winId()),
                                     target.mapToGlobal(target.rect().center()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return target.snapshot && source.finished; }, 30000)) << "no drop";
        return target.snapshot.value_or(ExternalImageDrop::Snapshot{});
    }
};

} // namespace

TEST_F(XdsReceiver, WrittenOrDeclinedPromisesGiveTheImage) {
    // "S": the source wrote the file where asked, under a plain name of ours.
    XdsSource writes{.suggestedName = "../../escape.png", .fileBytes = pngBytes(6, 4)};
    const auto delivered = drop(writes);
    ASSERT_EQ(delivered.items.size(), 1);
    ASSERT_EQ(delivered.items[0].size(), 1);
    ASSERT_EQ(delivered.items[0][0].kind, Kind::Promise);
    EXPECT_EQ(QUrl::fromEncoded(writes.requestedUri).toLocalFile(),
              delivered.items[0][0].promise->directory()->path() + u"/escape.png"_s)
        << writes.requestedUri.data();

    // "F", as browsers answer: the import moves on to the bytes offered with it.
    XdsSource declines{.suggestedName = "photo.png",
                       .offers = {{"application/octet-stream", pngBytes(6, 4)},
                                  {"text/uri-list", "http://127.0.0.1:9/photo.png\r\n"}}};
    const auto declined = drop(declines);
    ASSERT_EQ(declined.items.size(), 1);
    ASSERT_EQ(declined.items[0].size(), 3);
    const auto outcome = declined.items[0][1].promise->take(5s);
    EXPECT_TRUE(outcome.data.isEmpty());
    EXPECT_EQ(outcome.error.value_or(Error()).message, u"来源应用没有生成图片文件。"_s);

    for (const auto& snapshot : {delivered, declined}) {
        const auto result = materializeOffMain(snapshot);
        ASSERT_EQ(result.paths.size(), 1) << result.detail.value_or(QString()).toStdString();
        EXPECT_EQ(readFile(result.paths[0]), pngBytes(6, 4));
    }
}

TEST_F(XdsReceiver, OnlyOtherProgramsAreAskedToDeliver) {
    QMimeData data;
    data.setData(u"XdndDirectSave0"_s, QByteArray());
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ownDrag(other, "../x.png");
    auto receiver = XdsPromiseReceiver::forCurrentDrop(data);
    ASSERT_TRUE(receiver);
    EXPECT_EQ(receiver->fileNames(), QStringList{u"x.png"_s});
    ownDrag(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection(), "x.png");
    EXPECT_FALSE(XdsPromiseReceiver::forCurrentDrop(data)) << "a drag of our own is never asked to deliver";
    xcb_disconnect(other);
}

TEST(XdsReceiverNames, SuggestedNamesBecomePlainFileNames) {
    for (const auto& [suggested, expected] : {std::pair{QByteArray("..\\..\\win.png"), "win.png"},
                                              {"..", "dropped-image"},
                                              {"", "dropped-image"},
                                              {".hidden.png", "hidden.png"},
                                              {QByteArray("a\0b.png", 7), "a"},
                                              {"line\nbreak.png", "linebreak.png"},
                                              {" .hidden.png ", "hidden.png"},
                                              {". . .x.png", "x.png"},
                                              {"\xF0\x9F\x93\xB7.png", "\xF0\x9F\x93\xB7.png"}})
        EXPECT_EQ(XdsPromiseReceiver::safeFileName(suggested), QString::fromUtf8(expected))
            << suggested.data();
    EXPECT_LE(XdsPromiseReceiver::safeFileName(QByteArray(1000, 'n')).toUtf8().size(),
              XdsPromiseReceiver::kMaxNameBytes);
    // Shortened by whole characters: fifty four-byte emoji fit, never half of one.
    EXPECT_EQ(XdsPromiseReceiver::safeFileName(QByteArray("\xF0\x9F\x93\xB7").repeated(60)),
              QString::fromUtf8(QByteArray("\xF0\x9F\x93\xB7").repeated(50)));
}

namespace {

// The owner of a selection on a connection of its own, answering the requests for it as
// `script` says: called with each request in turn and the connection.
struct SelectionOwner {
    using Script = std::function<void(xcb_connection_t*, const xcb_selection_request_event_t&, int index)>;
    Script script{};
    std::atomic<bool> stop{false};
    std::atomic<bool> owned{false};
    std::jthread thread{};
    ~SelectionOwner() { stop = true; }

    void run(const char* selection) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t window = xcb_generate_id(c);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window,
                          xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(c, window, intern(c, selection), XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        owned = true;
        int index = 0;
        while (!stop) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c),
                                                                             &std::free);
            if (!event) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            if ((event->response_type & 0x7F) == XCB_SELECTION_REQUEST) {
                const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event.get());
                // Pieces of a long answer go out as the requestor deletes the last one.
                xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &events);
                script(c, request, index++);
            }
        }
        xcb_disconnect(c);
    }
};

// The next deletion of `property` on `window` that `c` hears of, within two seconds.
bool awaitDeletion(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    for (const auto deadline = std::chrono::steady_clock::now() + 2s;
         std::chrono::steady_clock::now() < deadline;) {
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c), &std::free);
        if (!event) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
        if (notify->window == window && notify->atom == property && notify->state == XCB_PROPERTY_DELETE)
            return true;
    }
    return false;
}

} // namespace

TEST(DropSelectionReading, AnAnswerInPiecesEndsAtItsEmptyPieceAndALateAnswerNeverReachesTheNextRead) {
    if (QGuiApplication::platformName() != u"xcb"_s)
        GTEST_SKIP() << "needs an X server";
    constexpr auto kSelection = "VENNIMO_TEST_SELECTION";
    // Three hundred kilobytes, more than one request carries, sent as large answers go: pieces of
    // 64 KB after an INCR announcement.
    QByteArray large(300 * 1024, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 % 251);
    std::optional<xcb_selection_request_event_t> unanswered;
    SelectionOwner owner;
    owner.script = [&](xcb_connection_t* c, const xcb_selection_request_event_t& request, int index) {
        if (index == 0) {
            const uint32_t size = uint32_t(large.size());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                intern(c, "INCR"), 32, 1, &size);
            post(c, request.requestor,
                 xcb_selection_notify_event_t{XCB_SELECTION_NOTIFY, 0, 0, request.time, request.requestor,
                                              request.selection, request.target, request.property});
            for (qsizetype at = 0;; at += 65536) {
                if (!awaitDeletion(c, request.requestor, request.property))
                    return;
                const QByteArray piece = large.mid(at, 65536);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    request.target, 8, uint32_t(piece.size()), piece.constData());
                xcb_flush(c);
                if (piece.isEmpty())
                    break;
            }
        } else if (index == 1) {
            // Kept waiting past the reader's time.
            unanswered = request;
        } else if (index == 2) {
            // The earlier request's answer comes now, and the one asked for a little later.
            answer(c, *unanswered, "stale");
            std::this_thread::sleep_for(300ms);
            answer(c, request, "fresh");
        }
    };
    owner.thread = std::jthread(&SelectionOwner::run, &owner, kSelection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner.owned.load(); }, 5000));

    const std::unique_ptr<X11SelectionReader> reader = X11SelectionReader::open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->read(kSelection, "image/png", XCB_CURRENT_TIME, QDeadlineTimer(3000), 1 << 20), large)
        << "the empty piece ends the answer";
    EXPECT_EQ(reader->read(kSelection, "image/png", XCB_CURRENT_TIME, QDeadlineTimer(200), 1 << 20),
              std::nullopt);
    EXPECT_EQ(reader->read(kSelection, "image/png", XCB_CURRENT_TIME, QDeadlineTimer(3000), 1 << 20),
              QByteArray("fresh"))
        << "the late answer to the read before was taken";
}

TEST_F(XdsReceiver, ThePositionsTimeStampIsKeptForReadingTheDragsData) {
    DropTarget target;
    target.setAcceptDrops(true);
    target.resize(300, 200);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
    X11DropTime::watch();
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t source = ownDrag(c, "photo.png");
    const xcb_window_t window = xcb_window_t(target.winId());
    const QPoint at = target.mapToGlobal(target.rect().center());
    send(c, window, "XdndEnter", {source, 5u << 24, intern(c, "image/png"), XCB_ATOM_NONE, XCB_ATOM_NONE});
    send(c, window, "XdndPosition",
         {source, 0, uint32_t(at.x()) << 16 | uint32_t(at.y()), 424242, intern(c, "XdndActionCopy")});
    EXPECT_TRUE(QTest::qWaitFor([] { return X11DropTime::lastPosition() == 424242u; }, 5000))
        << "the position's time stamp, not " << X11DropTime::lastPosition().value_or(0);
    const auto windows = X11DropTime::lastPositionWindows();
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->source, source);
    EXPECT_EQ(windows->target, window);
    send(c, window, "XdndLeave", {source, 0, 0, 0, 0});
    QTest::qWait(100);
    xcb_disconnect(c);
}

// A window that answers each move of a drag from what the drag offers, as the rope does.
struct JudgingTarget : QWidget {
    QList<bool> answers;
    void dragEnterEvent(QDragEnterEvent* event) override {
        ExternalImageDrop::beginDrag();
        judge(event);
    }
    void dragMoveEvent(QDragMoveEvent* event) override { judge(event); }
    void judge(QDragMoveEvent* event) {
        answers.append(ExternalImageDrop::canRead(*event->mimeData()));
        if (answers.last())
            event->acceptProposedAction();
        else
            event->ignore();
    }
};

TEST_F(XdsReceiver, ADragAfterOneWhoseSourceDiedWithoutLeavingIsJudgedByItsOwnTypes) {
    JudgingTarget target;
    target.setAcceptDrops(true);
    target.resize(300, 200);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
    X11DropTime::watch();
    const xcb_window_t window = xcb_window_t(target.winId());
    const QPoint at = target.mapToGlobal(target.rect().center());
    const auto drag = [&](xcb_connection_t* c, const char* type) {
        const xcb_window_t source = ownDrag(c, "photo.png");
        send(c, window, "XdndEnter", {source, 5u << 24, intern(c, type), XCB_ATOM_NONE, XCB_ATOM_NONE});
        send(c, window, "XdndPosition",
             {source, 0, uint32_t(at.x()) << 16 | uint32_t(at.y()), XCB_CURRENT_TIME,
              intern(c, "XdndActionCopy")});
    };

    // A list that does not come in the hover's time may hold anything: the drag is taken. Its
    // program then ends without a leave.
    xcb_connection_t* dying = xcb_connect(nullptr, nullptr);
    drag(dying, "text/uri-list");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !target.answers.isEmpty(); }, 5000));
    EXPECT_TRUE(target.answers.last());
    xcb_disconnect(dying);

    // Another program's drag of plain text only, which Qt hands over as moves of the dead drag.
    const qsizetype before = target.answers.size();
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    drag(c, "text/plain");
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.answers.size() > before; }, 5000));
    EXPECT_FALSE(target.answers.last()) << "the dead drag's answer was taken for this one";
    send(c, window, "XdndLeave", {0, 0, 0, 0, 0});
    QTest::qWait(100);
    xcb_disconnect(c);
}
