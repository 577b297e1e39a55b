#include "XdsSource.h"

#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromisedImage.h"
#include "dragdrop/XdsPromiseReceiver.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>

using namespace vennimo;
using namespace vennimo::test;
using Kind = ExternalImageDrop::Source::Kind;

namespace {

// A window that takes every drop and snapshots it inside the drop handler, as the rope does.
class DropTarget : public QWidget {
public:
    DropTarget() {
        setAcceptDrops(true);
        resize(300, 200);
    }
    std::optional<ExternalImageDrop::Snapshot> snapshot;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        snapshot = ExternalImageDrop::snapshot(*event->mimeData());
        event->acceptProposedAction();
    }
};

QByteArray png() {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(makeImage(6, 4));
    return bytes;
}

bool runDrop(DropTarget& target, XdsSource& source) {
    target.show();
    if (!QTest::qWaitForWindowExposed(&target))
        return false;
    const QPoint centre = target.mapToGlobal(target.rect().center());
    source.start(quint32(target.window()->winId()), centre.x(), centre.y());
    return QTest::qWaitFor([&] { return target.snapshot.has_value() && source.finished(); }, 8000);
}

} // namespace

TEST(XdsReceiver, SourceWritesThePromisedFileIntoTheDropFolder) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    qputenv("TMPDIR", QFile::encodeName(makeFolder(QStringLiteral("tmp"))));
    DropTarget target;
    XdsSource source({"../../escape.png", true, png(), {}});
    ASSERT_TRUE(runDrop(target, source)) << "the drop did not complete";

    const auto& snapshot = *target.snapshot;
    ASSERT_EQ(snapshot.items.size(), 1);
    ASSERT_EQ(snapshot.items[0].size(), 1);
    ASSERT_EQ(snapshot.items[0][0].kind, Kind::Promise);
    const QString folder = snapshot.items[0][0].promise->directory()->path();
    const QByteArray uri = source.requestedUri();
    EXPECT_EQ(QUrl::fromEncoded(uri).toLocalFile(), folder + QStringLiteral("/escape.png"))
        << "the suggested name loses its folders: " << uri.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/../escape.png")));

    const QString storage = storageFolder();
    const auto result = std::async(std::launch::async, [&] {
                            return ExternalImageDrop::materialize(snapshot, storage);
                        }).get();
    ASSERT_EQ(result.paths.size(), 1) << result.detail.value_or(QString()).toStdString();
    EXPECT_TRUE(result.paths[0].startsWith(storage + QStringLiteral("/imported-images/")));
    EXPECT_EQ(readFile(result.paths[0]), png());
}

TEST(XdsReceiver, DeclinedPromiseFallsBackToTheBrowsersBytes) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    qputenv("TMPDIR", QFile::encodeName(makeFolder(QStringLiteral("tmp"))));
    DropTarget target;
    XdsSource source(
        {"photo.png",
         false,
         {},
         {{"application/octet-stream", png()}, {"text/uri-list", "http://127.0.0.1:9/photo.png\r\n"}}});
    ASSERT_TRUE(runDrop(target, source)) << "the drop did not complete";

    const auto& snapshot = *target.snapshot;
    ASSERT_EQ(snapshot.items.size(), 1);
    const auto& alternatives = snapshot.items[0];
    ASSERT_EQ(alternatives.size(), 3);
    EXPECT_EQ(alternatives[0].kind, Kind::Bytes);
    EXPECT_EQ(alternatives[1].kind, Kind::Promise);
    EXPECT_EQ(alternatives[2].kind, Kind::Remote);

    const auto outcome = alternatives[1].promise->take(std::chrono::seconds(5));
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_TRUE(outcome.data.isEmpty());
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->message, QStringLiteral("来源应用没有生成图片文件。"));

    const QString storage = storageFolder();
    const auto result = std::async(std::launch::async, [&] {
                            return ExternalImageDrop::materialize(snapshot, storage);
                        }).get();
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), png());
}

TEST(XdsReceiver, SuggestedNamesBecomePlainFileNames) {
    EXPECT_EQ(XdsPromiseReceiver::safeFileName("../../x.png"), QStringLiteral("x.png"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName("/etc/passwd"), QStringLiteral("passwd"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName("..\\..\\win.png"), QStringLiteral("win.png"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName(".."), QStringLiteral("dropped-image"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName(".hidden.png"), QStringLiteral("hidden.png"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName(QByteArray("a\0b.png", 7)), QStringLiteral("a"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName("line\nbreak.png"), QStringLiteral("linebreak.png"));
    EXPECT_EQ(XdsPromiseReceiver::safeFileName(""), QStringLiteral("dropped-image"));
    EXPECT_LE(XdsPromiseReceiver::safeFileName(QByteArray(1000, 'n')).toUtf8().size(),
              XdsPromiseReceiver::kMaxNameBytes);
}

TEST(XdsReceiver, OnlyOtherProgramsAreAskedToDeliver) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    QMimeData data;
    data.setData(QStringLiteral("XdndDirectSave0"), QByteArray());
    auto ownerOn = [](xcb_connection_t* c) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        auto intern = [c](const char* name) {
            auto* reply =
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
            const xcb_atom_t atom = reply->atom;
            free(reply);
            return atom;
        };
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern("XdndDirectSave0"), intern("text/plain"),
                            8, 8, "../x.png");
        xcb_set_selection_owner(c, window, intern("XdndSelection"), XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    };

    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    ownerOn(other);
    auto receiver = XdsPromiseReceiver::forCurrentDrop(data);
    ASSERT_TRUE(receiver);
    EXPECT_EQ(receiver->fileNames(), QStringList{QStringLiteral("x.png")});

    ownerOn(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    EXPECT_FALSE(XdsPromiseReceiver::forCurrentDrop(data)) << "a drag of our own is never asked to deliver";
    xcb_disconnect(other);
}
