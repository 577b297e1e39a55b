#include "RopeModelFixture.h"

#include "model/ImageClipboardData.h"
#include "model/ImageClipboardLifetime.h"
#include "model/PhotoClipboard.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"

#include <QBuffer>
#include <QClipboard>
#include <QColorSpace>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

QClipboard& clipboard() {
    return *QGuiApplication::clipboard();
}

QColor colorOf(const QByteArray& bytes) {
    return QImage::fromData(bytes, "png").pixelColor(3, 2);
}

} // namespace

TEST(PhotoClipboard, SeveralPhotosGoOnAsFileUrlsForBrowsersAndFileManagers) {
    const QString folder = makeFolder(u"several"_s);
    const Photo a = photoFileAt(folder + u"/a.png"_s, pngBytes(Qt::red));
    const Photo b = photoFileAt(folder + u"/b 2.png"_s, pngBytes(Qt::blue));
    Photo gone = photoFileAt(folder + u"/gone.png"_s, pngBytes(Qt::green));
    QFile::remove(gone.path);

    const QList<Photo> written = PhotoClipboard::copyPhotos({a, gone, b, a});
    EXPECT_EQ(written, (QList<Photo>{a, b}));
    const QMimeData* data = clipboard().mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(a.path), QUrl::fromLocalFile(b.path)}));
    EXPECT_EQ(data->data(u"x-special/gnome-copied-files"_s),
              "copy\n" + QUrl::fromLocalFile(a.path).toEncoded() + "\n" +
                  QUrl::fromLocalFile(b.path).toEncoded());
    EXPECT_FALSE(data->hasFormat(u"image/png"_s));
    EXPECT_FALSE(ImageClipboardLifetime::lastWriteWasSinglePhoto());

    // One distinct copyable photo among several goes on as a single photo, with its image.
    EXPECT_EQ(PhotoClipboard::copyPhotos({a, gone, a}), QList<Photo>{a});
    EXPECT_TRUE(clipboard().mimeData()->hasFormat(u"image/png"_s));
    EXPECT_TRUE(ImageClipboardLifetime::lastWriteWasSinglePhoto());
}

TEST(PhotoClipboard, TheImageIsTheFileAsItWasWhenCopied) {
    const Photo photo = photoFileAt(makeFolder(u"single"_s) + u"/c.png"_s, pngBytes(Qt::red));
    ASSERT_TRUE(PhotoClipboard::copyPhoto(photo));
    // Rewritten in place after the copy: the same file, other pixels.
    QFile file(photo.path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(pngBytes(Qt::blue));
    file.close();

    const QMimeData* data = clipboard().mimeData();
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(photo.path)});
    ASSERT_TRUE(data->hasFormat(u"image/png"_s));
    EXPECT_EQ(colorOf(data->data(u"image/png"_s)), QColor(Qt::red));
    EXPECT_EQ(ImageClipboardLifetime::generalChangeCount(), ImageClipboardLifetime::writeCount());

    // A wide-gamut photo's image keeps the photo's colour space, as its pixels stay in it.
    QImage wide = makeImage(40, 30, QColor(Qt::red));
    wide.setColorSpace(QColorSpace::DisplayP3);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(wide.save(&buffer, "JPEG", 95));
    ASSERT_EQ(QImage::fromData(jpeg).colorSpace(), QColorSpace(QColorSpace::DisplayP3))
        << "the JPEG holds it";
    ASSERT_TRUE(PhotoClipboard::copyPhoto(photoFileAt(makeFolder(u"wide"_s) + u"/p3.jpg"_s, jpeg)));
    const QImage copied = QImage::fromData(clipboard().mimeData()->data(u"image/png"_s), "png");
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.colorSpace(), QColorSpace(QColorSpace::DisplayP3))
        << "came back as " << qPrintable(copied.colorSpace().description());
}

TEST(PhotoClipboard, AFailedCopyLeavesTheClipboardAsItWas) {
    const QString folder = makeFolder(u"failing"_s);
    const Photo replaced = photoFileAt(folder + u"/d.png"_s, pngBytes(Qt::red));
    replaceFile(replaced.path, pngBytes(Qt::blue));
    const Photo gone = photoFileAt(folder + u"/e.png"_s, pngBytes(Qt::red));
    QFile::remove(gone.path);

    clipboard().setText(u"the user's text"_s);
    EXPECT_FALSE(PhotoClipboard::copyPhoto(replaced));
    EXPECT_TRUE(PhotoClipboard::copyPhotos({replaced, gone}).isEmpty());
    EXPECT_EQ(clipboard().text(), u"the user's text"_s);
    EXPECT_FALSE(PhotoClipboard::immutableCopySource(replaced));

    // Larger than the bound: no bytes are held.
    const Photo large = photoFileAt(folder + u"/f.png"_s, pngBytes(Qt::red));
    EXPECT_FALSE(PhotoClipboard::immutableCopySource(large, large.size - 1));
    EXPECT_EQ(PhotoClipboard::immutableCopySource(large, large.size), pngBytes(Qt::red));
}

TEST(PhotoClipboard, CopiesToTheSelectionLeaveTheClipboardCountAlone) {
    const Photo photo = photoFileAt(makeFolder(u"selection"_s) + u"/g.png"_s, pngBytes(Qt::red));
    ASSERT_TRUE(PhotoClipboard::copyPhoto(photo));
    const auto count = ImageClipboardLifetime::generalChangeCount();
    if (clipboard().supportsSelection()) {
        ASSERT_TRUE(PhotoClipboard::copyPhoto(photo, QClipboard::Selection));
        EXPECT_EQ(ImageClipboardLifetime::generalChangeCount(), count);
        EXPECT_FALSE(ImageClipboardLifetime::lastWriteWasSinglePhoto());
    }
    // Without a clipboard that answers for itself nothing is handed over.
    if (!clipboard().ownsClipboard()) {
        EXPECT_FALSE(PhotoClipboard::handOverBeforeQuit());
    }
}

TEST(PhotoClipboard, UnreadableImageDataGivesNoImageButKeepsTheUrl) {
    ImageClipboardData data(QUrl::fromLocalFile(u"/x/h.png"_s), QByteArray("not an image"));
    EXPECT_TRUE(data.data(u"image/png"_s).isEmpty());
    EXPECT_EQ(data.urls(), QList<QUrl>{QUrl::fromLocalFile(u"/x/h.png"_s)});

    int renders = 0;
    ImageClipboardData counted(QUrl::fromLocalFile(u"/x/i.png"_s), pngBytes(Qt::red),
                               [&renders](const QByteArray& b, const std::atomic<bool>&) {
                                   ++renders;
                                   return ImageClipboardData::png(b);
                               });
    EXPECT_EQ(renders, 0) << "nothing is rendered before a reader asks";
    EXPECT_EQ(colorOf(counted.data(u"image/png"_s)), QColor(Qt::red));
    const auto whole = counted.materialized();
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(colorOf(whole->data(u"image/png"_s)), QColor(Qt::red));
}

TEST(PhotoClipboard, APasteWhileTheImageIsStillBeingMadeWaitsForItOffTheMainThread) {
    using namespace std::chrono_literals;
    WorkQueue queue(u"test.clipboard-image"_s);
    std::atomic<int> renders{0};
    std::atomic<bool> onMainThread{false};
    std::promise<void> started, release;
    const std::shared_future<void> released = release.get_future().share();
    const auto slow = [&](const QByteArray& bytes, const std::atomic<bool>&) {
        ++renders;
        onMainThread = QThread::currentThread() == qApp->thread();
        started.set_value();
        released.wait();
        return ImageClipboardData::png(bytes);
    };
    ImageClipboardData data(QUrl::fromLocalFile(u"/x/j.png"_s), pngBytes(Qt::red), slow);
    data.renderAhead(queue);
    ASSERT_EQ(started.get_future().wait_for(10s), std::future_status::ready);
    std::thread releaser([&release] {
        std::this_thread::sleep_for(50ms);
        release.set_value();
    });
    EXPECT_EQ(colorOf(data.data(u"image/png"_s)), QColor(Qt::red)) << "the paste waited for the image";
    releaser.join();
    EXPECT_FALSE(onMainThread.load());
    data.renderAhead(queue);
    EXPECT_EQ(colorOf(data.materialized()->data(u"image/png"_s)), QColor(Qt::red));
    EXPECT_EQ(renders.load(), 1) << "made once";

    // Content the clipboard let go of: what has not started never does, what runs is dropped.
    std::promise<void> unblock;
    queue.async([gate = unblock.get_future().share()] { gate.wait(); });
    int dropped = 0;
    auto waiting =
        std::make_unique<ImageClipboardData>(QUrl::fromLocalFile(u"/x/k.png"_s), pngBytes(Qt::blue),
                                             [&dropped](const QByteArray& bytes, const std::atomic<bool>&) {
                                                 ++dropped;
                                                 return ImageClipboardData::png(bytes);
                                             });
    waiting->renderAhead(queue);
    waiting.reset();
    unblock.set_value();
    queue.waitUntilIdle();
    EXPECT_EQ(dropped, 0);
}

TEST(PhotoClipboard, AnImageStillBeingMadeIsGivenUpWhenItsContentGoes) {
    using namespace std::chrono_literals;
    // The program's end waits for the queue: a large photo's PNG nobody will paste must not hold it.
    WorkQueue queue(u"test.clipboard-image"_s);
    std::promise<void> started;
    std::atomic<bool> sawStop{false};
    auto data = std::make_unique<ImageClipboardData>(
        QUrl::fromLocalFile(u"/x/l.png"_s), pngBytes(Qt::green),
        [&](const QByteArray&, const std::atomic<bool>& stop) -> std::optional<QByteArray> {
            started.set_value();
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (!stop && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(1ms);
            sawStop = stop.load();
            return std::nullopt;
        });
    data->renderAhead(queue);
    ASSERT_EQ(started.get_future().wait_for(10s), std::future_status::ready);
    data.reset();
    queue.waitUntilIdle();
    EXPECT_TRUE(sawStop.load()) << "the rendering under way was told to stop";

    // The real rendering gives up when told, and makes the PNG when not.
    const std::atomic<bool> stopped{true};
    EXPECT_FALSE(ImageClipboardData::pngUnlessStopped(pngBytes(Qt::red), stopped));
    const std::atomic<bool> going{false};
    const auto made = ImageClipboardData::pngUnlessStopped(pngBytes(Qt::red), going);
    ASSERT_TRUE(made);
    EXPECT_EQ(colorOf(*made), QColor(Qt::red));

    // A process on its way out makes none: the decoding of a copied photo, too, is thrown away
    // with it, whether the clipboard still holds the content or not.
    ProcessExit::announce();
    EXPECT_FALSE(ImageClipboardData::pngUnlessStopped(pngBytes(Qt::red), going))
        << "a photo was decoded and written for a process that was ending";
    ProcessExit::resetForTesting();
}

TEST(PhotoClipboard, TheModelCountsWhatItCopiedAndSaysWhatItCouldNot) {
    RopeModel rope(0);
    const QString folder = makeFolder(u"model"_s);
    const QList<Photo> photos{photoFileAt(folder + u"/1.png"_s, pngBytes(Qt::red)),
                              photoFileAt(folder + u"/2.png"_s, pngBytes(Qt::blue)),
                              photoFileAt(folder + u"/3.png"_s, pngBytes(Qt::green))};
    rope.show(photos);
    rope->setSelection(photos);
    QFile::remove(photos[1].path);

    EXPECT_TRUE(rope->copySelection());
    EXPECT_EQ(rope->copiedCount(), 2);
    EXPECT_EQ(rope->actionError(), u"已复制 2 张，1 张无法访问。"_s);
    EXPECT_TRUE(rope->usedCopyIDs().contains(photos[0].recordKey()));
    EXPECT_FALSE(rope->usedCopyIDs().contains(photos[1].recordKey()));

    QFile::remove(photos[0].path);
    QFile::remove(photos[2].path);
    EXPECT_FALSE(rope->copySelection());
    EXPECT_EQ(rope->actionError(), u"未能复制：原图已移动或无法访问。"_s);
    EXPECT_FALSE(rope->copy(photos[2]));
    EXPECT_EQ(rope->actionError(), u"无法复制：原图已移动、被替换或暂时不可用。"_s);

    const Photo fresh = photoFileAt(folder + u"/4.png"_s, pngBytes(Qt::red));
    EXPECT_TRUE(rope->copy(fresh));
    EXPECT_EQ(rope->actionError(), std::nullopt);
    EXPECT_TRUE(rope->usedCopyIDs().contains(fresh.recordKey()));
}
