#include "platform/WebpDecoder.h"
#include "platform/ImageDecoder.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QColorSpace>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <webp/decode.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace vennimo {
namespace {

using namespace test;

bool cancelled(const Result<QImage>& image) {
    return !image.ok() && image.error().domain == kPosixErrorDomain && image.error().sysErrno == ECANCELED;
}

bool unreadable(const Result<QImage>& image) {
    return !image.ok() && image.error().domain == kImageErrorDomain &&
           image.error().code == kImageUnreadableCode;
}

// Left half clear, right half the colour.
QImage halfClear(QSize size, QColor colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height(), colour);
    return image;
}

QImage filled(QSize size, QColor colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Grain that no encoder squeezes: many kilobytes of compressed data.
QImage noise(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    return image;
}

class WebpDecoderTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Each way a WebP comes in: a file, and bytes.
    std::vector<std::pair<const char*, std::function<Result<QImage>(int, const std::function<bool()>&)>>>
    waysIn(const QByteArray& webp, const QString& name) {
        writeFile(path(name), webp);
        return {{"file",
                 [file = path(name)](int size, const std::function<bool()>& stop) {
                     return ImageDecoder::decodeScaled(file, size, stop);
                 }},
                {"bytes", [webp](int size, const std::function<bool()>& stop) {
                     return ImageDecoder::decodeScaled(webp, size, stop);
                 }}};
    }

    QTemporaryDir m_dir;
};

const std::function<bool()> kNever = [] { return false; };

TEST_F(WebpDecoderTest, AnAnimationShowsItsFirstFrameWhereItLiesOnAClearCanvas) {
    // The first frame covers only the right half; the second, all blue, must never show.
    const QByteArray webp = animatedWebp(
        {200, 100}, {{filled({100, 100}, Qt::red), {100, 0}}, {filled({200, 100}, Qt::blue), {}}});
    ASSERT_FALSE(webp.isEmpty());
    for (const auto& [way, decode] : waysIn(webp, "animated.webp")) {
        SCOPED_TRACE(way);
        for (const int size : {0, 100}) {
            SCOPED_TRACE(size);
            const auto image = decode(size, kNever);
            ASSERT_TRUE(image.ok()) << image.error().message.toStdString();
            const QSize expected = size == 0 ? QSize(200, 100) : QSize(100, 50);
            ASSERT_EQ(image->size(), expected);
            const int w = expected.width(), h = expected.height();
            EXPECT_EQ(image->pixelColor(w / 4, h / 2).alpha(), 0)
                << "the canvas beside the frame stays clear";
            EXPECT_EQ(image->pixelColor(w * 3 / 4, h / 2), QColor(Qt::red))
                << "the first frame, in its place";
        }
        EXPECT_TRUE(cancelled(decode(100, [] { return true; })));
    }
    // Qt's reader agrees on the size it reports for the header.
    const auto header = ImageDecoder::readHeader(webp);
    ASSERT_TRUE(header.ok());
    EXPECT_EQ(header->size, QSize(200, 100));
}

TEST_F(WebpDecoderTest, TransparencyIsKeptLosslessAndLossyAtEverySize) {
    for (const bool lossless : {true, false}) {
        SCOPED_TRACE(lossless ? "lossless" : "lossy");
        const QByteArray webp = webpOf(halfClear({64, 64}, Qt::green), lossless);
        ASSERT_FALSE(webp.isEmpty());
        for (const auto& [way, decode] : waysIn(webp, "clear.webp")) {
            SCOPED_TRACE(way);
            for (const int size : {0, 32}) {
                const auto image = decode(size, kNever);
                ASSERT_TRUE(image.ok());
                const int side = size == 0 ? 64 : 32;
                ASSERT_EQ(image->size(), QSize(side, side));
                ASSERT_TRUE(image->hasAlphaChannel());
                EXPECT_EQ(image->pixelColor(side / 8, side / 2).alpha(), 0) << size;
                const QColor right = image->pixelColor(side * 7 / 8, side / 2);
                EXPECT_TRUE(right.alpha() == 255 && right.green() > 240 && right.red() < 16) << size;
            }
        }
    }
    // An opaque picture stays opaque.
    const auto opaque = ImageDecoder::decode(webpOf(filled({16, 16}, Qt::blue), true));
    ASSERT_TRUE(opaque.ok());
    EXPECT_FALSE(opaque->hasAlphaChannel());
}

TEST_F(WebpDecoderTest, AColourProfileComesWithThePicture) {
    const QColorSpace p3(QColorSpace::DisplayP3);
    for (const bool lossless : {true, false}) {
        SCOPED_TRACE(lossless ? "lossless" : "lossy");
        const QByteArray webp = withIccProfile(webpOf(makeImage(120, 80), lossless), p3.iccProfile());
        ASSERT_FALSE(webp.isEmpty());
        for (const auto& [way, decode] : waysIn(webp, "p3.webp")) {
            SCOPED_TRACE(way);
            for (const int size : {0, 60}) {
                const auto image = decode(size, kNever);
                ASSERT_TRUE(image.ok());
                EXPECT_EQ(image->colorSpace(), p3) << size;
                EXPECT_TRUE(isMarkerRed(image->pixelColor(2, 2)));
            }
        }
    }
    // A profile that is no profile is left out, not the picture.
    const auto broken = ImageDecoder::decode(withIccProfile(webpOf(makeImage(12, 8), true), "not a profile"));
    ASSERT_TRUE(broken.ok());
    EXPECT_FALSE(broken->colorSpace().isValid());
}

TEST_F(WebpDecoderTest, ACutOffWebpIsRefusedAndNeverWaitedForForEver) {
    const QByteArray whole = webpOf(noise({256, 256}), false, 100);
    ASSERT_GT(whole.size(), 20'000);
    const QByteArray animation = animatedWebp({256, 256}, {{noise({256, 256}), {}}});
    ASSERT_FALSE(animation.isEmpty());
    // A chunk that is whole but holds only the first half of its picture's data.
    const auto shortBitstream = [](const QByteArray& webp) {
        const QByteArray data = webp.mid(20, webp.size() / 2);
        const QByteArray chunk = webp.mid(12, 4) + littleEndian(quint32(data.size()), 4) + data +
                                 QByteArray(data.size() % 2, '\0');
        return "RIFF" + littleEndian(quint32(4 + chunk.size()), 4) + "WEBP" + chunk;
    };
    const QByteArray lossless = webpOf(noise({256, 256}), true);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {{"cut in its pixels", whole.left(whole.size() / 2)},
                 {"cut in its header", whole.left(20)},
                 {"an animation cut in its first frame", animation.left(animation.size() * 2 / 3)},
                 {"a whole chunk of half a lossy picture", shortBitstream(whole)},
                 {"a whole chunk of half a lossless picture", shortBitstream(lossless)}};
    for (const auto& c : cases) {
        for (const auto& [way, decode] : waysIn(c.bytes, "cut.webp")) {
            SCOPED_TRACE(std::string(c.name) + ", " + way);
            // A decode that keeps waiting for more data is stopped by the watchdog instead of
            // holding the test for ever, and then answers cancelled, not unreadable.
            std::atomic<bool> watchdog{false};
            auto pending = std::async(std::launch::async, [&decode = decode, &watchdog] {
                return decode(256, [&watchdog] { return watchdog.load(); });
            });
            if (pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
                watchdog.store(true);
            const auto image = pending.get();
            EXPECT_FALSE(watchdog.load()) << "the decode kept waiting for data that never comes";
            EXPECT_TRUE(unreadable(image));
        }
    }
}

TEST_F(WebpDecoderTest, ALosslessPictureOfFewBytesIsDecodedInPiecesThatEachAskTheStop) {
    // Two colours in thin stripes: under a kilobyte spells nine million pixels, which a decoder fed
    // its data at once would draw without a look at the stop.
    QImage stripes(3000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(stripes.scanLine(y)), stripes.width(),
                    (y / 7) % 2 ? 0xff000000u : 0xffffffffu);
    const QByteArray webp = webpOf(stripes, true);
    ASSERT_FALSE(webp.isEmpty());
    ASSERT_LT(webp.size(), 1024);
    for (const auto& [way, decode] : waysIn(webp, "stripes.webp")) {
        SCOPED_TRACE(way);
        int asked = 0;
        const auto image = decode(200, [&] { return ++asked < 0; });
        ASSERT_TRUE(image.ok());
        ASSERT_EQ(image->size(), QSize(200, 200));
        // Stripes a pixel wide at this scale: grey, from either colour's side.
        EXPECT_NEAR(image->pixelColor(100, 100).red(), 128, 40);
        EXPECT_GE(asked, 4) << "the stop was asked only " << asked << " times";
        asked = 0;
        EXPECT_TRUE(cancelled(decode(200, [&] { return ++asked > 2; })));
    }
}

TEST_F(WebpDecoderTest, ALosslessPictureWhoseFullSizeBufferPassesTheBoundIsRefused) {
    // libwebp holds a lossless picture whole at four bytes a pixel, whatever size it is decoded
    // to: 75 million pixels, 300 MB, are decoded; one row more is refused before any is.
    const QRgb green = QColor(Qt::darkGreen).rgb();
    const QByteArray under = flatLosslessWebp(QSize(8000, 9375), green);
    const QByteArray over = flatLosslessWebp(QSize(8000, 9376), green);
    ASSERT_FALSE(under.isEmpty());
    ASSERT_LT(over.size(), 1024);
    for (const auto& [way, decode] : waysIn(under, "under.webp")) {
        SCOPED_TRACE(way);
        const auto image = decode(256, kNever);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image->size(), QSize(218, 256));
        EXPECT_EQ(image->pixelColor(109, 128), QColor(Qt::darkGreen));
    }
    for (const auto& [way, decode] : waysIn(over, "over.webp")) {
        SCOPED_TRACE(way);
        EXPECT_TRUE(unreadable(decode(256, kNever)));
        EXPECT_TRUE(unreadable(decode(0, kNever))) << "at its full size too";
    }
    // A lossy picture of a few colours is never held whole, and is decoded at any size.
    EXPECT_TRUE(ImageDecoder::decodeScaled(webpOf(filled(QSize(64, 64), Qt::darkGreen), false), 32).ok());
}

TEST_F(WebpDecoderTest, ChunksOfNoKindBeforeThePictureAreEachReadOnceAndSteppedOver) {
    // The format lets any number of unknown chunks stand before the picture; the colour profile
    // after them must still come with it.
    const QColorSpace p3(QColorSpace::DisplayP3);
    constexpr int kChunks = 300'000;
    const QByteArray webp =
        withEmptyChunks(withIccProfile(webpOf(makeImage(120, 80), true), p3.iccProfile()), kChunks);
    ASSERT_GT(webp.size(), kChunks * 8);
    const QByteArray animation =
        withEmptyChunks(animatedWebp({200, 100}, {{filled({100, 100}, Qt::red), {100, 0}},
                                                  {filled({200, 100}, Qt::blue), {}}}),
                        kChunks);
    ASSERT_FALSE(animation.isEmpty());
    for (const auto& [way, decode] : waysIn(webp, "chunks.webp")) {
        SCOPED_TRACE(way);
        const quint64 before = WebpDecoder::demuxedBytesForTesting();
        int asked = 0;
        const auto image = decode(60, [&asked] { return ++asked < 0; });
        ASSERT_TRUE(image.ok()) << image.error().message.toStdString();
        EXPECT_EQ(image->size(), QSize(60, 40));
        EXPECT_TRUE(isMarkerRed(image->pixelColor(1, 1)));
        EXPECT_EQ(image->colorSpace(), p3);
        // Parsed again from the start at each read, the data would be handed over many times.
        EXPECT_LT(WebpDecoder::demuxedBytesForTesting() - before, quint64(webp.size() / 8))
            << "the chunks stepped over were parsed";
        EXPECT_TRUE(cancelled(decode(60, [] { return true; })));
    }
    for (const auto& [way, decode] : waysIn(animation, "animation.webp")) {
        SCOPED_TRACE(way);
        const auto image = decode(0, kNever);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image->pixelColor(150, 50), QColor(Qt::red));
        EXPECT_EQ(image->pixelColor(50, 50).alpha(), 0);
    }
    // Cut among its chunks, before the picture: refused, not waited for.
    for (const auto& [way, decode] : waysIn(webp.left(webp.size() / 2), "cut.webp")) {
        SCOPED_TRACE(way);
        EXPECT_TRUE(unreadable(decode(60, kNever)));
    }
}

TEST_F(WebpDecoderTest, AnIndexOutsideThePaletteIsTransparentBlackAsLibwebpDrawsIt) {
    const QRgb red = qRgb(200, 30, 30);
    const QByteArray webp = outOfPaletteWebp({16, 4}, red);
    // libwebp's own decoding, which the picture must match.
    int width = 0, height = 0;
    uint8_t* reference = WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(webp.constData()),
                                        size_t(webp.size()), &width, &height);
    ASSERT_NE(reference, nullptr);
    const std::vector<uint8_t> first(reference, reference + 8);
    WebPFree(reference);
    ASSERT_EQ(first, (std::vector<uint8_t>{0, 0, 0, 0, 200, 30, 30, 255}));
    for (const auto& [way, decode] : waysIn(webp, "palette.webp")) {
        SCOPED_TRACE(way);
        for (const int size : {0, 8}) {
            SCOPED_TRACE(size);
            const auto image = decode(size, kNever);
            ASSERT_TRUE(image.ok());
            ASSERT_TRUE(image->hasAlphaChannel());
            if (size == 0) {
                EXPECT_EQ(image->pixelColor(0, 0), QColor(0, 0, 0, 0));
                EXPECT_EQ(image->pixelColor(1, 0), QColor(red));
            } else {
                // Half the pixels clear: a see-through red.
                EXPECT_NEAR(image->pixelColor(3, 1).alpha(), 128, 8);
            }
        }
    }
}

} // namespace
} // namespace vennimo
