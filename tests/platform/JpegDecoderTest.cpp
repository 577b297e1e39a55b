#include "platform/JpegDecoder.h"
#include "platform/ImageDecoder.h"
#include "platform/LargeTurn.h"
#include "platform/WorkQueue.h"
#include "support/StandardErrorCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
// jpeglib.h takes FILE from stdio.h without including it.
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace vennimo {
namespace {

using namespace test;

QByteArray segment(uchar marker, const QByteArray& body) {
    const int length = int(body.size()) + 2;
    return QByteArray("\xff", 1) + char(marker) + char(length >> 8) + char(length & 0xff) + body;
}

// The segments put right after the start of the picture.
QByteArray withSegments(const QByteArray& jpeg, const QByteArray& segments) {
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// An ICC profile split into `chunks` APP2 segments, as writers split those over 64 KB.
QByteArray iccSegments(const QByteArray& profile, int chunks) {
    QByteArray out;
    const qsizetype step = profile.size() / chunks;
    for (int i = 0; i < chunks; ++i)
        out += segment(0xE2, QByteArray("ICC_PROFILE\0", 12) + char(i + 1) + char(chunks) +
                                 profile.mid(i * step, i + 1 < chunks ? step : -1));
    return out;
}

// The frame's first byte (the sample precision) of a JPEG that Qt wrote.
qsizetype frameAt(const QByteArray& jpeg) {
    return jpeg.indexOf(QByteArray("\xff\xc0", 2)) + 4;
}

// A CMYK JPEG through libjpeg itself, as Adobe's applications store it: inverted, 255 no ink.
QByteArray cmykJpeg(int width, int height, const std::function<QByteArray(int x)>& inverted) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 98, TRUE);
    jpeg_start_compress(&info, TRUE);
    QByteArray row;
    for (int x = 0; x < width; ++x)
        row += inverted(x);
    while (info.next_scanline < info.image_height) {
        JSAMPROW line = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

template <class T>
bool isUnreadable(const Result<T>& result) {
    return !result.ok() && result.error().domain == kImageErrorDomain &&
           result.error().code == kImageUnreadableCode;
}

template <class T>
bool isTooLarge(const Result<T>& result) {
    return !result.ok() && result.error().domain == kImageErrorDomain &&
           result.error().code == kImageTooLargeCode;
}

// Bounded only so that a fault fails rather than hangs.
bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class JpegDecoderTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Every way in refuses the bytes as damaged: header and decode, from a file and from memory.
    void expectRefused(const QByteArray& bytes) {
        writeFile(path("refused.jpg"), bytes);
        const std::function<bool()> never = [] { return false; };
        EXPECT_TRUE(isUnreadable(ImageDecoder::readHeader(path("refused.jpg")))) << "header from a file";
        EXPECT_TRUE(isUnreadable(ImageDecoder::readHeader(bytes))) << "header from bytes";
        EXPECT_TRUE(isUnreadable(ImageDecoder::decodeScaled(path("refused.jpg"), 256, never))) << "file";
        EXPECT_TRUE(isUnreadable(ImageDecoder::decodeScaled(bytes, 256))) << "bytes";
    }

    QTemporaryDir m_dir;
};

TEST_F(JpegDecoderTest, AFloodOfSegmentsOrAHeaderLibjpegCannotReadIsRefusedSilently) {
    const QByteArray plain = jpegOf(makeImage(64, 64));
    StandardErrorCapture standardError;
    {
        SCOPED_TRACE("100,000 empty comments before the frame");
        QByteArray comments;
        for (int i = 0; i < 100'000; ++i)
            comments += QByteArray("\xff\xfe\x00\x02", 4);
        expectRefused(withSegments(plain, comments));
    }
    {
        SCOPED_TRACE("12-bit samples");
        QByteArray twelve = plain;
        twelve[frameAt(plain)] = 12;
        expectRefused(twelve);
    }
    {
        SCOPED_TRACE("wider than libjpeg reads");
        QByteArray wide = plain;
        wide[frameAt(plain) + 3] = char(0xFF);
        wide[frameAt(plain) + 4] = char(0xF0);
        expectRefused(wide);
    }
    EXPECT_EQ(standardError.written(), QByteArray()) << "a refused picture is the user's news, not stderr's";

    // What encoders write passes: a profile in 255 chunks, dozens of other segments, an orientation.
    QByteArray others;
    for (int i = 0; i < 60; ++i)
        others += segment(0xFE, "written by a camera");
    const QByteArray written = withExifOrientation(
        withSegments(plain, iccSegments(QColorSpace(QColorSpace::DisplayP3).iccProfile(), 255) + others), 6);
    writeFile(path("written.jpg"), written);
    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "bytes");
        const auto header =
            fromFile ? ImageDecoder::readHeader(path("written.jpg")) : ImageDecoder::readHeader(written);
        ASSERT_TRUE(header.ok());
        EXPECT_TRUE(header->format == "jpeg" && header->size == QSize(64, 64) && header->orientation == 6);
        const auto image = fromFile ? ImageDecoder::decodeScaled(path("written.jpg"), 32)
                                    : ImageDecoder::decodeScaled(written, 32);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image->size(), QSize(32, 32));
        EXPECT_TRUE(isMarkerRed(image->pixelColor(28, 3))) << "turned as EXIF says";
        EXPECT_EQ(image->colorSpace(), QColorSpace(QColorSpace::DisplayP3))
            << "profile of 255 chunks, turned";
    }
}

TEST_F(JpegDecoderTest, AProfileKeepsItsColourSpaceAtEverySize) {
    QImage image = makeImage(400, 300);
    image.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    const QByteArray jpeg = jpegOf(image);
    writeFile(path("p3.jpg"), jpeg);
    for (const int bound : {0, 100}) {
        SCOPED_TRACE(bound);
        const auto fromFile = ImageDecoder::decodeScaled(path("p3.jpg"), bound);
        const auto fromBytes = ImageDecoder::decodeScaled(jpeg, bound);
        ASSERT_TRUE(fromFile.ok() && fromBytes.ok());
        EXPECT_EQ(fromFile->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        EXPECT_EQ(fromBytes->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    }
    EXPECT_FALSE(ImageDecoder::decode(jpegOf(makeImage(40, 30)))->colorSpace().isValid())
        << "no profile, no colour space made up";
}

TEST_F(JpegDecoderTest, TheWorkAndMemoryOfAPictureOfManyScansAreBounded) {
    // 10000 x 10000 in three colours at full resolution, as editors write their top qualities:
    // 600 MB of coefficients, taken. In four it is 800 MB, refused for its size.
    const auto fullColour = ImageDecoder::readHeader(manyScanJpeg(10000, 10000, 1, 0, 3));
    ASSERT_TRUE(fullColour.ok());
    EXPECT_EQ(fullColour->workingBytes, qint64(3) * 1250 * 1250 * 128);
    const QByteArray fourColours = manyScanJpeg(10000, 10000, 1, 0, 4);
    writeFile(path("four.jpg"), fourColours);
    EXPECT_TRUE(isTooLarge(ImageDecoder::readHeader(fourColours)));
    EXPECT_TRUE(isTooLarge(ImageDecoder::readHeader(path("four.jpg"))));
    EXPECT_TRUE(isTooLarge(ImageDecoder::decodeScaled(fourColours, 256)));
    EXPECT_TRUE(isTooLarge(ImageDecoder::decodeScaled(path("four.jpg"), 256, [] { return false; })));
    // In grey it is 200 MB, within the bound; each scan passes over 1.56 million blocks.
    // Past the pixel cap, decoded or not, the picture is refused for its size.
    EXPECT_TRUE(isTooLarge(ImageDecoder::decodeScaled(manyScanJpeg(20000, 6000, 1), 256)));
    const auto twenty = ImageDecoder::readHeader(manyScanJpeg(10000, 10000, 20));
    ASSERT_TRUE(twenty.ok());
    EXPECT_EQ(twenty->workingBytes, qint64(1250) * 1250 * 128);
    expectRefused(manyScanJpeg(10000, 10000, 21));
    {
        SCOPED_TRACE("scans behind more than a megabyte of segments");
        QByteArray padding;
        while (padding.size() < JpegDecoder::kScanCountBytes * 11 / 10)
            padding += segment(0xE1, QByteArray(65000, 'x'));
        expectRefused(withSegments(manyScanJpeg(64, 64, 200), padding));
    }

    // What encoders write: a sequential picture keeps no coefficients, a progressive one its
    // whole picture's, the colour at a quarter of the resolution.
    const QImage photo = makeImage(600, 400);
    EXPECT_EQ(ImageDecoder::readHeader(jpegOf(photo))->workingBytes, 0);
    writeFile(path("progressive.jpg"), jpegOf(photo, 90, true));
    const auto progressive = ImageDecoder::readHeader(path("progressive.jpg"));
    ASSERT_TRUE(progressive.ok());
    EXPECT_EQ(progressive->workingBytes, (76 * 50 + 2 * 38 * 25) * 128);
    const auto layout = JpegDecoder::readLayout(path("progressive.jpg"));
    ASSERT_TRUE(layout.ok());
    EXPECT_GE(layout->scans, 6) << "the scans are counted";
    EXPECT_EQ(ImageDecoder::decodeScaled(path("progressive.jpg"), 150)->size(), QSize(150, 100));
}

TEST_F(JpegDecoderTest, PicturesKeepingMoreThanTheShareTakeTurnsAndStopWhileTheyWait) {
    // 7200 x 7200 in three colours at full resolution: 311 MB of coefficients, above the share.
    const QByteArray large = manyScanJpeg(7200, 7200, 1, 0, 3);
    ASSERT_GT(ImageDecoder::readHeader(large)->workingBytes, JpegDecoder::kCoefficientShareBytes);
    // The first holds its turn inside its stop, asked before libjpeg keeps anything.
    std::promise<void> holding;
    std::atomic<bool> release{false};
    std::atomic<bool> told{false};
    auto first = std::async(std::launch::async, [&] {
        return JpegDecoder::decode(large, 256, [&] {
            if (!told.exchange(true))
                holding.set_value();
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        });
    });
    holding.get_future().wait();

    // A second waits for the turn and ends when its stop says so, having kept nothing.
    const auto asked = std::chrono::steady_clock::now();
    const auto second = JpegDecoder::decode(large, 256, [&] {
        return std::chrono::steady_clock::now() - asked > std::chrono::milliseconds(300);
    });
    EXPECT_TRUE(!second.ok() && second.error().code == ECANCELED) << "it was decoded beside the first";
    // A picture within the share does not wait.
    const QImage photo = makeImage(600, 400);
    EXPECT_TRUE(JpegDecoder::decode(jpegOf(photo, 90, true), 150, [] { return false; }).ok());

    release = true;
    const auto firstResult = first.get();
    EXPECT_TRUE(!firstResult.ok() && firstResult.error().code == ECANCELED);
}

// The share bounds only what is decoded beside another picture: one that waited for the turn
// is decoded with all the room it needs once it has it, as a 50-megapixel photo at full colour
// resolution needs more.
TEST_F(JpegDecoderTest, APictureThatWaitedForTheTurnIsDecodedWithTheRoomItNeeds) {
    // 7200 x 7200 in three colours at full resolution: 311 MB of coefficients. Its one scan holds
    // the bits of every block's DC code, "0", so that every row is there.
    constexpr int kBlocks = 900 * 900;
    const QByteArray large = manyScanJpeg(7200, 7200, 1, kBlocks * 3 / 8 + 1024, 3);
    ASSERT_GT(ImageDecoder::readHeader(large)->workingBytes, JpegDecoder::kCoefficientShareBytes);
    std::promise<void> holding;
    std::atomic<bool> release{false};
    std::atomic<bool> told{false};
    auto first = std::async(std::launch::async, [&] {
        return JpegDecoder::decode(large, 256, [&] {
            if (!told.exchange(true))
                holding.set_value();
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        });
    });
    holding.get_future().wait();
    auto waited =
        std::async(std::launch::async, [&] { return JpegDecoder::decode(large, 256, [] { return false; }); });
    // Long enough for it to be waiting; whether it is does not change what it must give.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    release = true;
    EXPECT_FALSE(first.get().ok());
    const auto image = waited.get();
    ASSERT_TRUE(image.ok()) << image.error().message.toStdString();
    EXPECT_EQ(image->size(), QSize(256, 256));
}

TEST_F(JpegDecoderTest, PicturesWaitingForTheTurnLeaveTheirWorkersAndGetItWholeInTheirOrder) {
    // 311 MB of coefficients: decoded at all only with the turn's room, never within the share.
    const QByteArray large = manyScanJpeg(7200, 7200, 1, 0, 3);
    const QByteArray ordinary = jpegOf(makeImage(600, 400), 90, true);
    std::promise<void> holding;
    std::atomic<bool> release{false};
    std::atomic<bool> told{false};
    auto holder = std::async(std::launch::async, [&] {
        return JpegDecoder::decode(large, 64, [&] {
            if (!told.exchange(true))
                holding.set_value();
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return false;
        });
    });
    holding.get_future().wait();

    // Three large pictures and then an ordinary one on two workers, as thumbnails are made.
    std::mutex lock;
    std::vector<int> asideOrder, decodedOrder;
    std::vector<bool> decodedWhole;
    WorkQueue queue(QStringLiteral("local.vennimo.test-turn"), 2);
    // However the test ends, the turn is let go before the queue waits for its workers.
    const auto letGo = qScopeGuard([&] { release = true; });
    for (int i = 0; i < 3; ++i) {
        queue.async([&, i] {
            const LargeTurn::PutBackScope aside;
            const auto result = JpegDecoder::decode(large, 64, [] { return false; });
            const std::lock_guard guard(lock);
            if (aside.putBack()) {
                EXPECT_FALSE(result.ok());
                asideOrder.push_back(i);
                return;
            }
            decodedOrder.push_back(i);
            decodedWhole.push_back(result.ok() && result->size() == QSize(64, 64));
        });
    }
    std::promise<bool> ordinaryDone;
    queue.async(
        [&] { ordinaryDone.set_value(JpegDecoder::decode(ordinary, 150, [] { return false; }).ok()); });
    auto ordinaryFuture = ordinaryDone.get_future();
    // The turn is held until released: the ordinary photo is done only if a worker is free.
    ASSERT_TRUE(waitUntil([&] {
        return ordinaryFuture.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    })) << "the ordinary photo found every worker waiting for the turn";
    EXPECT_TRUE(ordinaryFuture.get());
    {
        const std::lock_guard guard(lock);
        EXPECT_TRUE(decodedOrder.empty()) << "decoded beside the picture holding the turn";
        EXPECT_EQ(asideOrder.size(), 3u);
    }
    // A picture asking later, on a thread of its own, comes after those put back.
    ASSERT_TRUE(waitUntil([] { return LargeTurn::waiting() == 3; }));
    auto later = std::async(std::launch::async, [&] {
        const auto result = JpegDecoder::decode(large, 64, [] { return false; });
        const std::lock_guard guard(lock);
        decodedOrder.push_back(3);
        decodedWhole.push_back(result.ok());
    });
    ASSERT_TRUE(waitUntil([] { return LargeTurn::waiting() == 4; }));

    release = true;
    EXPECT_TRUE(holder.get().ok());
    later.get();
    queue.waitUntilIdle();
    const std::lock_guard guard(lock);
    // The two workers may put their pictures back in either order; the later one comes last.
    ASSERT_EQ(decodedOrder.size(), 4u);
    EXPECT_EQ(decodedOrder.back(), 3) << "the turn passed over a picture that waited for it";
    std::sort(decodedOrder.begin(), decodedOrder.end());
    EXPECT_EQ(decodedOrder, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(decodedWhole, std::vector<bool>(4, true)) << "a picture that waited was held to the share";
    EXPECT_EQ(LargeTurn::waiting(), 0);
}

TEST_F(JpegDecoderTest, CmykIsReadAsAdobeStoresIt) {
    // Columns: no ink, black at three quarters, cyan, and magenta with half black.
    const QByteArray columns[] = {QByteArray::fromHex("ffffffff"), QByteArray::fromHex("ffffff40"),
                                  QByteArray::fromHex("00ffffff"), QByteArray::fromHex("ff00ff80")};
    const QByteArray jpeg = cmykJpeg(64, 16, [&](int x) { return columns[x / 16]; });
    const auto image = ImageDecoder::decode(jpeg);
    ASSERT_TRUE(image.ok());
    const QColor expected[] = {QColor(255, 255, 255), QColor(64, 64, 64), QColor(0, 255, 255),
                               QColor(128, 0, 128)};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QColor seen = image->pixelColor(i * 16 + 8, 8);
        EXPECT_TRUE(std::abs(seen.red() - expected[i].red()) < 12 &&
                    std::abs(seen.green() - expected[i].green()) < 12 &&
                    std::abs(seen.blue() - expected[i].blue()) < 12)
            << seen.name().toStdString();
    }
}

// How much neighbouring pixels differ on the whole: what a picture shrunk from more pixels keeps
// and one enlarged from fewer loses.
double detail(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    qint64 sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 1; x < grey.width(); ++x)
            sum += std::abs(int(line[x]) - int(line[x - 1]));
    }
    return double(sum) / (qint64(grey.width()) * grey.height());
}

TEST_F(JpegDecoderTest, AShrunkDecodeKeepsTheDetailOfTheSizeAskedFor) {
    // Noise in 3-pixel squares. Bounds that fall between libjpeg's eighths must be decoded at the
    // eighth above and shrunk, never at the one below and enlarged.
    QImage image(1000, 750, QImage::Format_RGB32);
    quint32 state = 7;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) {
            state = state * 1664525u + 1013904223u;
            const int grey = int(state >> 24);
            for (int dy = 0; dy < 3 && y + dy < image.height(); ++dy)
                for (int dx = 0; dx < 3 && x + dx < image.width(); ++dx)
                    image.setPixel(x + dx, y + dy, qRgb(grey, grey, grey));
        }
    const QByteArray jpeg = jpegOf(image, 98);
    const QImage full = *ImageDecoder::decode(jpeg);
    for (const int bound : {300, 450}) {
        SCOPED_TRACE(bound);
        const auto shrunk = ImageDecoder::decodeScaled(jpeg, bound);
        ASSERT_TRUE(shrunk.ok());
        const QImage reference = full.scaled(shrunk->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Decoded at the eighth above and shrunk, 0.8 of the detail stays; at the one below and
        // enlarged, 0.68 or less.
        EXPECT_GT(detail(*shrunk), 0.74 * detail(reference));
    }
}

} // namespace
} // namespace vennimo
