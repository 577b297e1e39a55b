#include "platform/PngDecoder.h"
#include "platform/ImageDecoder.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace vennimo {
namespace {

using namespace test;

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    return writer.write(image) ? bytes : QByteArray();
}

// Grain in colour and in alpha over a gradient: a sampling that skips pixels, or averages colours
// without weighing them by their alpha, lands far from a smooth scaling.
QImage grainyTranslucent(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const quint32 grain = random.generate();
            const int alpha = x < width / 4 ? int(grain & 0x3f) : 255 - int(grain & 0x7f);
            image.setPixel(x, y, qRgba(x * 255 / width, int(grain >> 8 & 0xff), y * 255 / height, alpha));
        }
    return image;
}

// The grey picture greyPng draws, black above `split` and white below, decoded to `target`: the
// rows wholly on one side must be plain, the one across the border between the two.
void expectSplit(const QImage& image, QSize target, double splitAt) {
    ASSERT_EQ(image.size(), target);
    const int border = int(splitAt * target.height());
    for (int y = 0; y < target.height(); ++y)
        for (const int x : {0, target.width() / 2, target.width() - 1}) {
            const QColor pixel = image.pixelColor(x, y);
            ASSERT_EQ(pixel.alpha(), 255);
            ASSERT_TRUE(pixel.red() == pixel.green() && pixel.green() == pixel.blue()) << x << "," << y;
            if (y != border) {
                ASSERT_EQ(pixel.red(), y < border ? 0 : 255) << "row " << y;
            }
        }
}

TEST(PngDecoderTest, SixteenBitPalettesTransparencyAndGammaComeAsStored) {
    const QColor red(200, 30, 30);
    // 16 bits a channel, as editors and scanners write them: grey, colour, and colour with alpha.
    for (const QImage::Format format :
         {QImage::Format_Grayscale16, QImage::Format_RGBX64, QImage::Format_RGBA64}) {
        SCOPED_TRACE(format);
        QImage image(40, 30, format);
        image.fill(format == QImage::Format_RGBA64 ? QColor(200, 30, 30, 100) : red);
        const QByteArray png = pngOf(image);
        ASSERT_EQ(png.at(24), 16) << "written with 16 bits";
        for (const int size : {0, 20}) {
            const auto decoded = ImageDecoder::decodeScaled(png, size);
            ASSERT_TRUE(decoded.ok()) << size;
            const QColor pixel = decoded->pixelColor(5, 5);
            const QColor expected = image.pixelColor(5, 5);
            EXPECT_TRUE(std::abs(pixel.red() - expected.red()) <= 1 &&
                        std::abs(pixel.green() - expected.green()) <= 1 &&
                        std::abs(pixel.alpha() - expected.alpha()) <= 1)
                << size << ": " << pixel.name(QColor::HexArgb).toStdString();
        }
    }
    // A palette whose first entry the tRNS chunk makes clear.
    QImage indexed(40, 30, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(0, 0, 0, 0), red.rgb()});
    indexed.fill(0);
    for (int y = 0; y < indexed.height(); ++y)
        std::memset(indexed.scanLine(y) + indexed.width() / 2, 1, size_t(indexed.width() / 2));
    const QByteArray palette = pngOf(indexed);
    ASSERT_TRUE(palette.contains("tRNS"));
    for (const int size : {0, 20}) {
        const auto decoded = ImageDecoder::decodeScaled(palette, size);
        ASSERT_TRUE(decoded.ok());
        ASSERT_TRUE(decoded->hasAlphaChannel()) << size;
        EXPECT_EQ(decoded->pixelColor(1, 1).alpha(), 0) << size;
        EXPECT_EQ(decoded->pixelColor(decoded->width() - 2, 1), red) << size;
    }
    // A gamma of 1/2.2, stored as 45455 a hundred-thousandth, as ImageMagick writes it: close to
    // sRGB, so a mid grey stays a mid grey once shown.
    QImage grey(8, 8, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    QByteArray gamma = pngOf(grey);
    constexpr qsizetype kAfterHeader = 8 + 8 + 13 + 4;
    gamma.insert(kAfterHeader, pngChunk("gAMA", QByteArray::fromHex("0000b18f")));
    const auto decoded = ImageDecoder::decode(gamma);
    ASSERT_TRUE(decoded.ok());
    ASSERT_TRUE(decoded->colorSpace().isValid());
    EXPECT_NEAR(decoded->colorSpace().gamma(), 2.2, 0.01);
    const QColor shown = decoded->convertedToColorSpace(QColorSpace::SRgb).pixelColor(4, 4);
    EXPECT_NEAR(shown.red(), 128, 8);
}

TEST(PngDecoderTest, APictureWhoseDataInflatesPastWhatAPhotoHoldsIsTooLarge) {
    // Every row is inflated whatever size is asked: 99 million pixels of 16-bit colour and alpha
    // spell 792 MB from under a megabyte, seconds of work.
    const auto header = [](quint32 width, quint32 height, char depth, char colour) {
        QByteArray ihdr(13, '\0');
        for (int i = 0; i < 4; ++i) {
            ihdr[i] = char(width >> (24 - 8 * i));
            ihdr[4 + i] = char(height >> (24 - 8 * i));
        }
        ihdr[8] = depth;
        ihdr[9] = colour;
        return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IEND", {});
    };
    const QByteArray bomb = header(1'100'000, 90, 16, 6);
    const auto read = ImageDecoder::readHeader(bomb);
    EXPECT_TRUE(!read.ok() && read.error().code == kImageTooLargeCode);
    const auto decoded = ImageDecoder::decodeScaled(bomb, 256);
    EXPECT_TRUE(!decoded.ok() && decoded.error().code == kImageTooLargeCode);
    // A photo at the pixel cap in 16-bit colour, or 8-bit with alpha, is no such picture.
    EXPECT_TRUE(ImageDecoder::readHeader(header(10'000, 10'000, 16, 2)).ok());
    EXPECT_TRUE(ImageDecoder::readHeader(header(12'500, 8'000, 8, 6)).ok());
    EXPECT_TRUE(ImageDecoder::readHeader(header(2'000'000, 50, 8, 6)).ok());
    // A real 16-bit photo with alpha near the pixel cap fills a file of hundreds of megabytes:
    // it is costly but no bomb, and shows. A sparse file stands in for its data.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto fileOf = [&](const QByteArray& head, qint64 bytes) {
        const QString path = folder.filePath(QStringLiteral("photo-%1.png").arg(bytes));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(head) == head.size() && file.resize(bytes));
        return path;
    };
    const QByteArray photo = header(11'000, 9'000, 16, 6);
    EXPECT_TRUE(ImageDecoder::readHeader(fileOf(photo, 300'000'000)).ok());
    const auto small = ImageDecoder::readHeader(fileOf(photo, 2'000'000));
    EXPECT_TRUE(!small.ok() && small.error().code == kImageTooLargeCode);
}

TEST(PngDecoderTest, APictureShrunkWhileReadKeepsTheLookOfASmoothScaling) {
    // Colour, alpha and grain, non-interlaced, to a thumbnail and to a target only a little
    // smaller than the picture: every pixel near Qt's smooth scaling of the whole picture.
    const QByteArray png = pngOf(grainyTranslucent(900, 600));
    ASSERT_FALSE(png.isEmpty());
    const QImage whole = PngDecoder::decode(png);
    ASSERT_EQ(whole.size(), QSize(900, 600));
    for (const QSize target : {QSize(256, 171), QSize(720, 480), QSize(899, 600)}) {
        SCOPED_TRACE(target.width());
        const QImage shrunk = PngDecoder::decodeScaled(png, target);
        ASSERT_EQ(shrunk.size(), target);
        ASSERT_EQ(shrunk.format(), whole.format());
        const QImage smooth = whole.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(shrunk.format());
        int worst = 0;
        qint64 total = 0;
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x) {
                const QColor a = shrunk.pixelColor(x, y), b = smooth.pixelColor(x, y);
                int difference = std::abs(a.alpha() - b.alpha());
                // The colour of a nearly clear pixel is barely held by eight bits either way.
                if (b.alpha() > 32)
                    difference = std::max({difference, std::abs(a.red() - b.red()),
                                           std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
                worst = std::max(worst, difference);
                total += difference;
            }
        EXPECT_LE(worst, 48) << "a pixel far from the smooth scaling";
        EXPECT_LE(double(total) / (target.width() * target.height()), 6.0) << "on average far from it";
    }
    // A picture that is not shrunk is the whole one, to the pixel.
    EXPECT_EQ(PngDecoder::decodeScaled(png, QSize(900, 600)), whole);
    EXPECT_EQ(PngDecoder::decodeScaled(png, QSize()), whole);
}

TEST(PngDecoderTest, AnInterlacedPictureShrunkIsReadOnlyAsFarAsThePassesItNeeds) {
    // 6000 x 6000, black above row 2000: the non-interlaced picture is read row by row, all 6000
    // of them; of the interlaced one only the first pass (750 rows, every eighth pixel each way)
    // for a target up to 750 pixels, and the first three (2250 rows) for 1000 pixels, where
    // all seven are 11250 rows.
    const QByteArray plain = greyPng(6000, 6000, 2000);
    const QByteArray interlaced = greyPng(6000, 6000, 2000, true);
    const struct {
        const char* name;
        const QByteArray& png;
        int maxPixelSize;
        int fewestRows;
        int mostRows;
    } cases[] = {{"plain 256", plain, 256, 6000, 6000},
                 {"interlaced 256", interlaced, 256, 750, 750},
                 {"interlaced 720", interlaced, 720, 750, 750},
                 {"interlaced 1000", interlaced, 1000, 2250, 2250}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int asked = 0;
        const auto image = ImageDecoder::decodeScaled(c.png, c.maxPixelSize, [&] { return ++asked < 0; });
        ASSERT_TRUE(image.ok());
        expectSplit(*image, QSize(c.maxPixelSize, c.maxPixelSize), 1.0 / 3);
        // Once before each row, and once more when the decode is over.
        EXPECT_GE(asked, c.fewestRows + 1) << "rows left unread";
        EXPECT_LE(asked, c.mostRows + 1) << "passes read beyond those the target needs";
    }

    // Cut off within the passes it needs, it is refused; cut off after them, it is not, and at
    // its full size it is.
    const QByteArray cut = interlaced.left(interlaced.size() * 2 / 3);
    EXPECT_TRUE(ImageDecoder::decodeScaled(cut, 256).ok());
    EXPECT_FALSE(ImageDecoder::decodeScaled(interlaced.left(interlaced.size() / 100), 256).ok());
    EXPECT_TRUE(PngDecoder::decode(cut).isNull());
}

TEST(PngDecoderTest, SmallInterlacedPicturesWithEmptyPassesShrinkAsTheirPlainTwins) {
    // Pictures narrower or shorter than eight pixels have passes with no rows or no columns,
    // which libpng skips; shrunk only a little, every pass is read and the picture comes out
    // as the same picture stored without interlacing does, to the pixel.
    const struct {
        int width, height, split, maxPixelSize;
    } cases[] = {{7, 5, 2, 6}, {1, 9, 4, 6}, {9, 1, 0, 6}, {300, 200, 120, 200}, {13, 11, 6, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " to " << c.maxPixelSize);
        const QSize size(c.width, c.height);
        const QSize target = ImageDecoder::boundedSize(size, c.maxPixelSize);
        const QByteArray plain = greyPng(quint32(c.width), quint32(c.height), quint32(c.split));
        const QByteArray interlaced = greyPng(quint32(c.width), quint32(c.height), quint32(c.split), true);
        const QImage fromPlain = PngDecoder::decodeScaled(plain, target);
        ASSERT_EQ(fromPlain.size(), target);
        EXPECT_EQ(PngDecoder::decodeScaled(interlaced, target), fromPlain);
        EXPECT_EQ(PngDecoder::decode(interlaced), PngDecoder::decode(plain)) << "at its full size";
    }
}

} // namespace
} // namespace vennimo
