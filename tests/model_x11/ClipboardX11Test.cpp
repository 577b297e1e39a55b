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

    // At quit the same content goes on complete, for a clipboard manager to keep.
    ASSERT_TRUE(QGuiApplication::clipboard()->ownsClipboard());
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
