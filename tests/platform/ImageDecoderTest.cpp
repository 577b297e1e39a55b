#include "platform/ImageDecoder.h"
#include "platform/JpegDecoder.h"
#include "platform/PngDecoder.h"
#include "platform/ProcessExit.h"
#include "support/StandardErrorCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vennimo {
namespace {

using namespace test;

QByteArray bigEndian(quint32 value, int count) {
    QByteArray out;
    for (int i = count - 1; i >= 0; --i)
        out.append(char(value >> (8 * i)));
    return out;
}

// A PNG whose header claims the given size; the pixel data is a token few bytes.
QByteArray pngClaiming(quint32 width, quint32 height) {
    const QByteArray ihdr =
        bigEndian(width, 4) + bigEndian(height, 4) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + pngChunk("IEND", {});
}

// Bytes that end where readable memory ends, so that reading one byte past them faults.
class GuardedBytes {
public:
    explicit GuardedBytes(const QByteArray& bytes) {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        m_length = (size_t(bytes.size()) + page - 1) / page * page + page;
        m_map = ::mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m_map == MAP_FAILED)
            return;
        char* guard = static_cast<char*>(m_map) + m_length - page;
        ::mprotect(guard, page, PROT_NONE);
        std::memcpy(guard - bytes.size(), bytes.constData(), size_t(bytes.size()));
        m_bytes = QByteArray::fromRawData(guard - bytes.size(), bytes.size());
    }
    ~GuardedBytes() {
        if (m_map != MAP_FAILED)
            ::munmap(m_map, m_length);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    bool isValid() const { return m_map != MAP_FAILED; }
    const QByteArray& bytes() const { return m_bytes; }

private:
    void* m_map = MAP_FAILED;
    size_t m_length = 0;
    QByteArray m_bytes;
};

// 4x2 GIF89a, left half red and right half blue, LZW codes kept 3 bits wide by a clear per pixel.
const QByteArray kGif = QByteArray::fromHex("474946383961 0400 0200 810000 ff0000 0000ff 000000 000000"
                                            "2c 0000 0000 0400 0200 00 02 07 04c13004c13005 00 3b");

// A GIF whose one frame, the size its header reports, is 1x1 on a screen of the given size.
QByteArray gifScreenOf(quint32 width, quint32 height) {
    return QByteArray::fromHex("474946383961") + littleEndian(width, 2) + littleEndian(height, 2) +
           QByteArray::fromHex("800000 000000 ffffff 2c 0000 0000 0100 0100 00 02 01 2c 00 3b");
}

// An icon directory whose one entry says 1x1 and holds a PNG of another size.
QByteArray icoHolding(const QByteArray& png) {
    return QByteArray::fromHex("0000 0100 0100 01 01 00 00 0100 2000") +
           littleEndian(quint32(png.size()), 4) + littleEndian(22, 4) + png;
}

template <class T>
void expectImageError(const Result<T>& result, int code) {
    ASSERT_FALSE(result.ok());
    const char* message = code == kImageTooLargeCode ? kImageTooLargeMessage : kImageUnreadableMessage;
    EXPECT_TRUE(result.error().domain == kImageErrorDomain && result.error().code == code &&
                result.error().message == QString::fromUtf8(message));
}

class ImageDecoderTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(ImageDecoderTest, QtFormatsDecodeScaledWithoutUpscaling) {
    for (const char* format : {"png", "webp", "jpeg"}) {
        SCOPED_TRACE(format);
        const QString file = path(QStringLiteral("image.") + QString::fromLatin1(format));
        saveImage(makeImage(300, 200), file, 100);
        const auto header = ImageDecoder::readHeader(readFile(file));
        ASSERT_TRUE(header.ok());
        EXPECT_TRUE(header->format == format && header->size == QSize(300, 200));
        const auto scaled = ImageDecoder::decodeScaled(file, 100);
        ASSERT_EQ(scaled->size(), QSize(100, 67));
        EXPECT_TRUE(isMarkerRed(scaled->pixelColor(5, 5)));
        EXPECT_FALSE(isMarkerRed(scaled->pixelColor(90, 60)));
        EXPECT_EQ(ImageDecoder::decodeScaled(file, 1000)->size(), QSize(300, 200)) << "never enlarged";
    }
    saveImage(makeImage(1000, 3), path("strip.png"));
    EXPECT_EQ(ImageDecoder::decodeScaled(path("strip.png"), 100)->size(), QSize(100, 1)) << "not 0 high";

    ASSERT_EQ(ImageDecoder::readHeader(kGif)->format, QByteArray("gif"));
    const auto gif = ImageDecoder::decode(kGif);
    ASSERT_EQ(gif->size(), QSize(4, 2));
    EXPECT_TRUE(isMarkerRed(gif->pixelColor(0, 1)));
    EXPECT_EQ(gif->pixelColor(3, 1), QColor(Qt::blue));
}

TEST_F(ImageDecoderTest, JpegExifOrientationIsApplied) {
    saveImage(makeImage(400, 200), path("plain.jpg"), 100);
    const QByteArray plain = readFile(path("plain.jpg"));
    // Where the stored red top-left corner lands, as fractions of the oriented result.
    const std::tuple<int, QSize, QPointF> cases[] = {
        {1, {200, 100}, {0.05, 0.05}}, {2, {200, 100}, {0.95, 0.05}}, {3, {200, 100}, {0.95, 0.95}},
        {4, {200, 100}, {0.05, 0.95}}, {5, {100, 200}, {0.05, 0.05}}, {6, {100, 200}, {0.95, 0.05}},
        {7, {100, 200}, {0.95, 0.95}}, {8, {100, 200}, {0.05, 0.95}}};
    for (const auto& [orientation, scaled, red] : cases)
        for (const ExifOrder order : {ExifOrder::Motorola, ExifOrder::Intel}) {
            SCOPED_TRACE(orientation);
            SCOPED_TRACE(order == ExifOrder::Intel ? "Intel byte order" : "Motorola byte order");
            const QString file = path(QStringLiteral("o%1.jpg").arg(orientation));
            writeFile(file, withExifOrientation(plain, orientation, order));
            const auto header = ImageDecoder::readHeader(file);
            ASSERT_TRUE(header.ok());
            EXPECT_TRUE(header->orientation == orientation && header->size == QSize(400, 200))
                << "size as stored";
            const auto image = ImageDecoder::decodeScaled(file, 200);
            ASSERT_EQ(image->size(), scaled);
            const QPoint at(int(red.x() * scaled.width()), int(red.y() * scaled.height()));
            EXPECT_TRUE(isMarkerRed(image->pixelColor(at)));
            EXPECT_FALSE(
                isMarkerRed(image->pixelColor(scaled.width() - 1 - at.x(), scaled.height() - 1 - at.y())));
        }
}

// A camera-like picture of several megabytes: its grain keeps the data long, as a camera's does.
QByteArray grainyJpeg(int width, int height, const char* format = "jpeg") {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] =
                qRgb(int((x + (state >> 24)) & 255), int((y + (state >> 16)) & 255), int(state >> 8 & 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

TEST_F(ImageDecoderTest, AStopEndsADecodeAtItsNextReadFromAFileAndFromBytes) {
    const QByteArray jpeg = grainyJpeg(3000, 2000);
    ASSERT_GT(jpeg.size(), 2 << 20);
    writeFile(path("grain.jpg"), jpeg);
    saveImage(makeImage(300, 200, Qt::darkGreen), path("green.png"));
    const QByteArray png = readFile(path("green.png"));
    const auto fromFile = [this](const QString& name) {
        return [file = path(name)](const std::function<bool()>& stop) {
            return ImageDecoder::decodeScaled(file, 400, stop);
        };
    };
    const auto fromBytes = [](const QByteArray& bytes) {
        return [bytes](const std::function<bool()>& stop) {
            return ImageDecoder::decodeScaled(bytes, 400, stop);
        };
    };
    const struct {
        const char* name;
        std::function<Result<QImage>(const std::function<bool()>&)> decode;
        QByteArray bytes;
    } cases[] = {{"jpeg file", fromFile("grain.jpg"), jpeg},
                 {"jpeg bytes", fromBytes(jpeg), jpeg},
                 {"png file", fromFile("green.png"), png},
                 {"png bytes", fromBytes(png), png}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A stop never set reads the whole picture, the same as no stop.
        const auto whole = c.decode([] { return false; });
        ASSERT_TRUE(whole.ok());
        EXPECT_EQ(*whole, *ImageDecoder::decodeScaled(c.bytes, 400));
        if (c.bytes.size() < (1 << 20))
            continue;
        // Set a few reads into the scan, far from its end: the decode asks no more than once again
        // and answers no picture.
        int asked = 0;
        int askedAfterStop = 0;
        StandardErrorCapture standardError;
        const auto stopped = c.decode([&] {
            if (++asked <= 4)
                return false;
            ++askedAfterStop;
            return true;
        });
        ASSERT_FALSE(stopped.ok()) << "a picture cut off at the stop";
        EXPECT_TRUE(stopped.error().domain == kPosixErrorDomain && stopped.error().sysErrno == ECANCELED);
        EXPECT_LE(askedAfterStop, 3) << "reading went on after the stop";
        // Nothing is wrong with a picture no longer wanted: the decoder leaves it where it stopped
        // instead of drawing the rest from made-up data and warning about it.
        EXPECT_EQ(standardError.written(), QByteArray());
    }
}

TEST_F(ImageDecoderTest, RawDecodesItsPreviewTurnedByLibRaw) {
    const struct {
        int orientation;
        QSize size;
        QPoint marker;
    } cases[] = {{3, {32, 16}, {30, 14}}, {6, {16, 32}, {14, 2}}, {8, {16, 32}, {2, 30}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString file = path(QStringLiteral("photo%1.dng").arg(c.orientation));
        writeFile(file, makeDng(c.orientation));
        const auto header = ImageDecoder::readHeader(file);
        ASSERT_TRUE(header.ok());
        EXPECT_EQ(header->orientation, c.orientation);
        const auto image = ImageDecoder::decode(file);
        ASSERT_TRUE(image.ok());
        ASSERT_EQ(image->size(), c.size);
        EXPECT_TRUE(isMarkerRed(image->pixelColor(c.marker)));
        EXPECT_FALSE(isMarkerRed(
            image->pixelColor(c.size.width() - 1 - c.marker.x(), c.size.height() - 1 - c.marker.y())));
        EXPECT_EQ(ImageDecoder::decodeScaled(readFile(file), 8)->size(), c.size / 4) << "from memory too";
    }

    // A JPEG preview is a JPEG like any other: decoded at the size it holds, and refused when it
    // claims more than the pixel cap, whatever the TIFF tags around it say.
    QImage grey(64, 48, QImage::Format_Grayscale8);
    grey.fill(128);
    QByteArray preview;
    QBuffer buffer(&preview);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "jpeg").write(grey));
    writeFile(path("jpeg.dng"), makeDng(1, preview));
    EXPECT_EQ(ImageDecoder::decode(path("jpeg.dng"))->size(), QSize(64, 48));
    const qsizetype frame = preview.indexOf(QByteArray("\xff\xc0", 2)) + 5;
    preview.replace(frame, 4, QByteArray::fromHex("4e204e20")); // 20000 x 20000
    writeFile(path("claims.dng"), makeDng(1, preview));
    // A preview past the pixel cap is refused for its size, as any picture is.
    expectImageError(ImageDecoder::decodeScaled(path("claims.dng"), 256), kImageTooLargeCode);
    expectImageError(ImageDecoder::decodeScaled(readFile(path("claims.dng")), 256, [] { return false; }),
                     kImageTooLargeCode);
}

TEST_F(ImageDecoderTest, HeicContentOverExtensionAndRefusals) {
    saveImage(makeImage(40, 20), path("photo.png"));
    writeFile(path("photo.nef"), readFile(path("photo.png")));
    EXPECT_EQ(ImageDecoder::decodeScaled(path("photo.nef"), 10)->size(), QSize(10, 5))
        << "LibRaw declines a PNG";
    writeFile(path("broken.cr2"), "not a raw file");
    expectImageError(ImageDecoder::decode(path("broken.cr2")), kImageUnreadableCode);
    ASSERT_EQ(mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600), 0);
    expectImageError(ImageDecoder::readHeader(path("pipe.jpg")), kImageUnreadableCode); // never blocks
    expectImageError(ImageDecoder::decodeScaled(path("pipe.jpg"), 64), kImageUnreadableCode);

    // 400x200 with a 64 px thumbnail, which serves only bounds it can fill.
    saveImage(makeImage(400, 200), path("source.png"));
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("heif-enc")), heic = path("out.heic");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    ASSERT_EQ(QProcess::execute(tool, {"-q", "90", "-t", "64", "-o", heic, path("source.png")}), 0);

    const auto header = ImageDecoder::readHeader(heic);
    ASSERT_TRUE(header.ok());
    EXPECT_TRUE(header->format == "heif" && header->size == QSize(400, 200));
    // libheif decodes the whole picture whatever size is asked: its planes count as working memory,
    // and the same count comes from the boxes before the picture data alone.
    EXPECT_EQ(header->workingBytes, 400 * 200 * 9);
    EXPECT_EQ(ImageDecoder::workingBytesOf(heic), header->workingBytes);
    {
        // Behind more than a megabyte of other boxes the file is read whole.
        const QByteArray bytes = readFile(heic);
        const qsizetype ftypEnd = qsizetype(quint8(bytes[3]));
        constexpr int kFreeBytes = 1'200'000;
        const QByteArray free = QByteArray::fromHex("00124f80") + "free" + QByteArray(kFreeBytes - 8, '\0');
        writeFile(path("padded.heic"), bytes.left(ftypEnd) + free + bytes.mid(ftypEnd));
        EXPECT_EQ(ImageDecoder::workingBytesOf(path("padded.heic")), header->workingBytes);
    }
    EXPECT_EQ(ImageDecoder::workingBytesOf(path("source.png")), 0);
    EXPECT_EQ(ImageDecoder::decodeScaled(heic, 48)->size(), QSize(48, 24));
    EXPECT_EQ(ImageDecoder::decodeScaled(readFile(heic), 100)->size(), QSize(100, 50));
    const auto scaled = ImageDecoder::decodeScaled(heic, 200);
    ASSERT_EQ(scaled->size(), QSize(200, 100));
    EXPECT_TRUE(isMarkerRed(scaled->pixelColor(10, 10)));
    EXPECT_FALSE(isMarkerRed(scaled->pixelColor(190, 90)));

    // Oversized headers, unreadable and missing inputs are refused.
    // Exactly the cap is still allowed; the pixel data behind it does not matter for the header.
    EXPECT_EQ(ImageDecoder::readHeader(pngClaiming(10000, 10000))->size, QSize(10000, 10000));
    expectImageError(ImageDecoder::readHeader(pngClaiming(10000, 10001)), kImageTooLargeCode);
    // Shrinking while loading would fit in memory, yet the claim alone decides.
    writeFile(path("huge.png"), pngClaiming(20000, 20000));
    expectImageError(ImageDecoder::decodeScaled(path("huge.png"), 256), kImageTooLargeCode);
    expectImageError(ImageDecoder::decode(path("huge.png")), kImageTooLargeCode);

    // The data, not the header, decides: frames larger than the picture they belong to are
    // measured against the cap once decoded, and every result is shrunk to what was asked for.
    const QByteArray wideGif = gifScreenOf(20000, 5000);
    EXPECT_EQ(ImageDecoder::decodeScaled(wideGif, 256)->size(), QSize(256, 64));
    expectImageError(ImageDecoder::decode(gifScreenOf(20000, 5001)), kImageTooLargeCode);
    saveImage(makeImage(64, 48), path("inside.png"));
    writeFile(path("icon.ico"), icoHolding(readFile(path("inside.png"))));
    const auto icon = ImageDecoder::decodeScaled(path("icon.ico"), 32);
    ASSERT_TRUE(icon.ok());
    EXPECT_EQ(icon->size(), QSize(32, 24));

    const QByteArray garbage("this is not an image, just some words that fill a buffer");
    expectImageError(ImageDecoder::readHeader(garbage), kImageUnreadableCode);
    expectImageError(ImageDecoder::decodeScaled(garbage, 64), kImageUnreadableCode);
    expectImageError(ImageDecoder::decode(QByteArray()), kImageUnreadableCode);
    expectImageError(ImageDecoder::readHeader(pngClaiming(0, 10)), kImageUnreadableCode);
    for (const Error& error : {ImageDecoder::readHeader(path("missing.jpg")).error(),
                               ImageDecoder::decodeScaled(path("missing.jpg"), 64).error()})
        EXPECT_TRUE(error.domain == kPosixErrorDomain && error.sysErrno == ENOENT);
}

// A drop's working memory is read from the boxes before the meta box. A box stating no length of
// its own (0: up to the end of the file, 1: a 64-bit one) ends that walk and leaves the answer to
// the read of the whole file, rather than holding the drop's thread on the one place.
TEST_F(ImageDecoderTest, AHeifBoxOfNoLengthOfItsOwnEndsTheWalkForTheWorkingMemory) {
    const QByteArray ftyp = bigEndian(24, 4) + "ftypheic" + bigEndian(0, 4) + "mif1heic";
    // Zeros follow each: a walk that stepped by a length misread lands on a box of length 0.
    const QByteArray zeros(4096, '\0');
    const struct {
        const char* name;
        QByteArray box;
    } cases[] = {
        {"to the end", bigEndian(0, 4) + "free" + zeros},
        {"64-bit", bigEndian(1, 4) + "free" + bigEndian(0, 4) + bigEndian(16 + 4096, 4) + zeros},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString("box-%1.heic").arg(c.name));
        writeFile(file, ftyp + c.box + bigEndian(8, 4) + "meta");
        // Read on a thread of its own, so that a walk that never ends fails here instead of
        // holding the whole suite.
        auto answer = std::make_shared<std::promise<qint64>>();
        std::future<qint64> working = answer->get_future();
        std::thread([answer, file] { answer->set_value(ImageDecoder::workingBytesOf(file)); }).detach();
        const bool ended = working.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        EXPECT_TRUE(ended) << "the walk over the boxes did not end";
        if (ended) {
            EXPECT_EQ(working.get(), 0) << "nothing readable, nothing counted";
        }
    }
}

TEST_F(ImageDecoderTest, SidesBeyondAMillionPixelsDecodeWithinThePixelCap) {
    const QByteArray tall = greyPng(1, 1'500'000, 750'000);
    ASSERT_LT(tall.size(), 64 << 10);
    writeFile(path("tall.png"), tall);
    const auto header = ImageDecoder::readHeader(path("tall.png"));
    ASSERT_TRUE(header.ok()) << header.error().message.toStdString();
    EXPECT_TRUE(header->format == "png" && header->size == QSize(1, 1'500'000) && header->orientation == 1);
    const auto image = ImageDecoder::decode(path("tall.png"));
    ASSERT_TRUE(image.ok()) << image.error().message.toStdString();
    ASSERT_EQ(image->size(), QSize(1, 1'500'000));
    EXPECT_TRUE(image->pixelColor(0, 749'999) == Qt::black && image->pixelColor(0, 750'000) == Qt::white);
    EXPECT_EQ(ImageDecoder::decodeScaled(path("tall.png"), 3000)->size(), QSize(1, 3000));

    const auto wide = ImageDecoder::decodeScaled(greyPng(1'200'000, 2, 1), 600);
    ASSERT_TRUE(wide.ok());
    EXPECT_EQ(wide->size(), QSize(600, 1)) << "at least a pixel high";

    // The cap holds as for any other picture, and damaged data stays unreadable.
    expectImageError(ImageDecoder::readHeader(pngClaiming(1, 100'000'001)), kImageTooLargeCode);
    writeFile(path("taller.png"), pngClaiming(2, 60'000'000));
    expectImageError(ImageDecoder::decode(path("taller.png")), kImageTooLargeCode);
    expectImageError(ImageDecoder::decode(pngClaiming(1, 2'000'000)), kImageUnreadableCode);
    expectImageError(ImageDecoder::decode(tall.left(tall.size() / 2)), kImageUnreadableCode);
    // Cut inside its pixel data, it is never read past its end.
    const GuardedBytes cut(tall.left(tall.size() / 2));
    ASSERT_TRUE(cut.isValid());
    EXPECT_TRUE(PngDecoder::decode(cut.bytes()).isNull());
    expectImageError(ImageDecoder::decode(cut.bytes()), kImageUnreadableCode);
    expectImageError(ImageDecoder::readHeader(pngClaiming(0x80000000u, 1)), kImageUnreadableCode);
}

TEST_F(ImageDecoderTest, AJpegOfMoreScansThanEncodersWriteIsRefusedBeforeItsPasses) {
    // 200 KB that ask for 20,000 passes over 1.56 million blocks: refused from the header on.
    const QByteArray huge = manyScanJpeg(10000, 10000, 20000);
    ASSERT_LT(huge.size(), 256 << 10);
    writeFile(path("huge.jpg"), huge);
    expectImageError(ImageDecoder::readHeader(path("huge.jpg")), kImageUnreadableCode);
    expectImageError(ImageDecoder::readHeader(huge), kImageUnreadableCode);

    // Smaller, so that a decoder that made every pass would still come back.
    const std::function<bool()> never = [] { return false; };
    const struct {
        const char* name;
        QByteArray bytes;
    } refused[] = {
        {"one scan over the bound", manyScanJpeg(1000, 1000, JpegDecoder::kMaxScans + 1)},
        {"200 scans", manyScanJpeg(1000, 1000, 200)},
        // Its first scan's data hides the others from the count before decoding; the decoding
        // counts them itself.
        {"scans behind a long first one", manyScanJpeg(64, 64, 200, int(JpegDecoder::kScanCountBytes))},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        writeFile(path("scans.jpg"), c.bytes);
        expectImageError(ImageDecoder::decodeScaled(path("scans.jpg"), 256), kImageUnreadableCode);
        expectImageError(ImageDecoder::decodeScaled(c.bytes, 256), kImageUnreadableCode);
        expectImageError(ImageDecoder::decodeScaled(path("scans.jpg"), 256, never), kImageUnreadableCode);
        expectImageError(ImageDecoder::decodeScaled(c.bytes, 0, never), kImageUnreadableCode);
    }

    // As many scans as the bound allows still make a picture, and so do the progressive files
    // encoders write, in colour and in grey.
    const auto atBound = ImageDecoder::decode(manyScanJpeg(64, 48, JpegDecoder::kMaxScans));
    ASSERT_TRUE(atBound.ok());
    EXPECT_EQ(atBound->size(), QSize(64, 48));
    for (const bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "grey" : "colour");
        QImage image = makeImage(600, 400);
        if (grey)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        QByteArray progressive;
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        writer.setQuality(95);
        ASSERT_TRUE(writer.write(image));
        writeFile(path("progressive.jpg"), withExifOrientation(progressive, 6));
        const auto header = ImageDecoder::readHeader(path("progressive.jpg"));
        ASSERT_TRUE(header.ok());
        EXPECT_TRUE(header->size == QSize(600, 400) && header->orientation == 6);
        const auto decoded = ImageDecoder::decodeScaled(path("progressive.jpg"), 150, never);
        ASSERT_TRUE(decoded.ok());
        ASSERT_EQ(decoded->size(), QSize(100, 150)) << "turned as its orientation says";
        if (!grey) {
            EXPECT_TRUE(isMarkerRed(decoded->pixelColor(95, 5)));
            EXPECT_FALSE(isMarkerRed(decoded->pixelColor(5, 145)));
        }
        EXPECT_EQ(ImageDecoder::decode(progressive)->size(), QSize(600, 400));
    }
}

TEST_F(ImageDecoderTest, DecodersOfTheirOwnStopPartWayWhenTold) {
    // The long-side PNG decoder reads row by row, the WebP decoder a slice of the data at a time:
    // a stop set part-way through is answered at the next, from a file and from bytes.
    const QByteArray tall = greyPng(1, 1'500'000, 750'000);
    writeFile(path("tall.png"), tall);
    const QByteArray interlaced = greyPng(3000, 3000, 1500, true);
    writeFile(path("interlaced.png"), interlaced);
    const QByteArray webp = grainyJpeg(2000, 1500, "webp");
    ASSERT_GT(webp.size(), 1 << 20);
    writeFile(path("grain.webp"), webp);
    // A camera RAW's preview JPEG is decoded with the stop of the RAW, once LibRaw has looked at
    // it a few times.
    const QByteArray dng = makeDng(1, grainyJpeg(2000, 1500));
    writeFile(path("grain.dng"), dng);
    const struct {
        const char* name;
        QString file;
        QByteArray bytes;
        int maxPixelSize;
        int stopAt;
    } cases[] = {{"long-side png", path("tall.png"), tall, 3000, 1000},
                 {"interlaced png", path("interlaced.png"), interlaced, 400, 400},
                 {"webp", path("grain.webp"), webp, 400, 4},
                 {"raw preview", path("grain.dng"), dng, 400, 12}};
    for (const auto& c : cases) {
        for (const bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (fromFile ? " file" : " bytes"));
            const auto decode = [&](const std::function<bool()>& stop) {
                return fromFile ? ImageDecoder::decodeScaled(c.file, c.maxPixelSize, stop)
                                : ImageDecoder::decodeScaled(c.bytes, c.maxPixelSize, stop);
            };
            int asked = 0;
            const auto whole = decode([&] { return ++asked < 0; });
            ASSERT_TRUE(whole.ok());
            EXPECT_EQ(*whole, *ImageDecoder::decodeScaled(c.bytes, c.maxPixelSize));
            EXPECT_GT(asked, 2 * c.stopAt) << "the stop is asked only before and after the work";
            int askedAfterStop = 0;
            asked = 0;
            StandardErrorCapture standardError;
            const auto stopped = decode([&] {
                if (++asked <= c.stopAt)
                    return false;
                ++askedAfterStop;
                return true;
            });
            ASSERT_FALSE(stopped.ok()) << "a picture cut off at the stop";
            EXPECT_TRUE(stopped.error().domain == kPosixErrorDomain && stopped.error().sysErrno == ECANCELED);
            EXPECT_LE(askedAfterStop, 2) << "the work went on after the stop";
            EXPECT_EQ(standardError.written(), QByteArray()) << "a stopped picture is no error";
        }
    }

    // Cut off, a PNG of any size is refused without a word from libpng; its colour profile, when
    // whole, comes with it. An interlaced picture shrunk is read only as far as the passes it
    // needs, so it is cut off in the first.
    QImage p3 = makeImage(300, 200);
    p3.setColorSpace(QColorSpace::DisplayP3);
    saveImage(p3, path("p3.png"));
    const QByteArray small = readFile(path("p3.png"));
    const auto profiled = ImageDecoder::decodeScaled(small, 100);
    ASSERT_TRUE(profiled.ok());
    EXPECT_EQ(profiled->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    StandardErrorCapture standardError;
    for (const QByteArray& png : {small, interlaced, tall}) {
        const qsizetype kept = png == interlaced ? png.size() / 100 : png.size() * 2 / 3;
        expectImageError(ImageDecoder::decodeScaled(png.left(kept), 400), kImageUnreadableCode);
        writeFile(path("cut.png"), png.left(kept));
        expectImageError(ImageDecoder::decodeScaled(path("cut.png"), 400, [] { return false; }),
                         kImageUnreadableCode);
    }
    EXPECT_EQ(standardError.written(), QByteArray());
}

TEST_F(ImageDecoderTest, AHeifDecodingIsLeftToFinishAloneOnlyOnceTheProcessEnds) {
    // libheif cannot be interrupted. Mid-session a stopped decoding is waited for as any other;
    // once the process has announced its end the caller is let go at once, and the decoding
    // finishes on its own thread, counted until it does.
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("heif-enc")),
                  heic = path("grain.heic");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    writeFile(path("grain.jpg"), grainyJpeg(4000, 3000));
    ASSERT_EQ(QProcess::execute(tool, {"-q", "50", "-p", "preset=ultrafast", "-o", heic, path("grain.jpg")}),
              0);
    const auto cancelled = [](const Result<QImage>& image) {
        return !image.ok() && image.error().domain == kPosixErrorDomain &&
               image.error().sysErrno == ECANCELED;
    };

    int asked = 0;
    const auto waited = ImageDecoder::decodeScaled(heic, 400, [&] { return ++asked > 1; });
    EXPECT_TRUE(cancelled(waited));
    EXPECT_EQ(ImageDecoder::decodingsLeftRunning(), 0) << "a decoding mid-session was left running";

    ProcessExit::announce();
    asked = 0;
    const auto leftBehind = ImageDecoder::decodeScaled(heic, 400, [&] { return ++asked > 1; });
    const int running = ImageDecoder::decodingsLeftRunning();
    EXPECT_TRUE(cancelled(leftBehind));
    EXPECT_EQ(running, 1) << "the caller waited for a decoding the process would throw away";
    for (int i = 0; i < 6000 && ImageDecoder::decodingsLeftRunning() > 0; ++i)
        usleep(10'000);
    EXPECT_EQ(ImageDecoder::decodingsLeftRunning(), 0) << "a decoding left behind never ended";
    ProcessExit::resetForTesting();
}

} // namespace
} // namespace vennimo
