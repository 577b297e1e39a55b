#include "model/ImageClipboardData.h"
#include "model/PhotoClipboard.h"
#include "model/RopeModelFixture.h"

#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

// What another program reads from the clipboard. Our event loop keeps running meanwhile, since
// this process is the one that answers.
QByteArray readFromAnotherProcess(const QString& target) {
    QProcess xclip;
    QEventLoop loop;
    QObject::connect(&xclip, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    xclip.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, target});
    loop.exec();
    if (xclip.state() != QProcess::NotRunning) {
        xclip.kill();
        xclip.waitForFinished();
        return {};
    }
    return xclip.readAllStandardOutput();
}

// Another program that owns the clipboard manager's selection while it lives, as a desktop's
// clipboard manager does; it never answers, which the hand-over does not need.
class ClipboardManagerStandIn {
public:
    ClipboardManagerStandIn()
        : m_c(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        const xcb_window_t window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char* name = "CLIPBOARD_MANAGER";
        auto* reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        xcb_set_selection_owner(m_c, window, reply->atom, XCB_CURRENT_TIME);
        std::free(reply);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }
    ~ClipboardManagerStandIn() { xcb_disconnect(m_c); }
    ClipboardManagerStandIn(const ClipboardManagerStandIn&) = delete;
    ClipboardManagerStandIn& operator=(const ClipboardManagerStandIn&) = delete;

private:
    xcb_connection_t* m_c;
};

class ClipboardX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != u"xcb"_s)
            GTEST_SKIP() << "needs an X server";
        if (QStandardPaths::findExecutable(u"xclip"_s).isEmpty())
            GTEST_SKIP() << "xclip is not installed";
    }
};

} // namespace

TEST_F(ClipboardX11, ASinglePhotoOffersItsUrlAndTheImageItHadWhenCopied) {
    const Photo photo = photoFileAt(makeFolder(u"x11"_s) + u"/copied photo.png"_s, pngBytes(Qt::red));
    ASSERT_TRUE(PhotoClipboard::copyPhoto(photo));
    QFile file(photo.path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(pngBytes(Qt::blue));
    file.close();

    const QByteArray targets = readFromAnotherProcess(u"TARGETS"_s);
    EXPECT_TRUE(targets.contains("text/uri-list")) << targets.toStdString();
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_TRUE(targets.contains("x-special/gnome-copied-files")) << targets.toStdString();
    EXPECT_EQ(readFromAnotherProcess(u"text/uri-list"_s).trimmed(),
              QUrl::fromLocalFile(photo.path).toEncoded());
    const QImage image = QImage::fromData(readFromAnotherProcess(u"image/png"_s), "png");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(3, 2), QColor(Qt::red)) << "the file's content at copy time";

    // Without a clipboard manager nobody keeps the content after the quit: the quit does not wait
    // to make it complete.
    ASSERT_TRUE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(PhotoClipboard::handOverBeforeQuit());
    EXPECT_NE(qobject_cast<const ImageClipboardData*>(QGuiApplication::clipboard()->mimeData()), nullptr)
        << "the content is left as it was";

    // With one, the same content goes on complete at quit, for the manager to keep.
    const ClipboardManagerStandIn manager;
    EXPECT_TRUE(PhotoClipboard::handOverBeforeQuit());
    const QMimeData* handed = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(QImage::fromData(handed->data(u"image/png"_s), "png").pixelColor(3, 2), QColor(Qt::red));
    EXPECT_EQ(QImage::fromData(readFromAnotherProcess(u"image/png"_s), "png").pixelColor(3, 2),
              QColor(Qt::red));
    EXPECT_FALSE(PhotoClipboard::handOverBeforeQuit()) << "already handed over";
}

TEST_F(ClipboardX11, NothingIsHandedOverOnceAnotherProgramOwnsTheClipboard) {
    const Photo photo = photoFileAt(makeFolder(u"x11-lost"_s) + u"/lost.png"_s, pngBytes(Qt::red));
    ASSERT_TRUE(PhotoClipboard::copyPhoto(photo));
    QProcess xclip;
    xclip.start(u"xclip"_s, {u"-quiet"_s, u"-i"_s, u"-selection"_s, u"clipboard"_s});
    xclip.write("someone else's text");
    xclip.closeWriteChannel();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop] {
        if (!QGuiApplication::clipboard()->ownsClipboard())
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(PhotoClipboard::handOverBeforeQuit());
    xclip.kill();
    xclip.waitForFinished();
}
