#include "platform/ImageDecoder.h"
#include "platform/ImageDecoderShared.h"
#include "support/StandardErrorCapture.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

namespace vennimo {
namespace {

using namespace test;

QByteArray svgOf(int width, int height, const QByteArray& body) {
    return "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           QByteArray::number(width) + "\" height=\"" + QByteArray::number(height) + "\">" + body +
           "</svg>\n";
}

// `count` translucent rectangles over the whole picture: a few bytes each, every one a pass over
// all of its pixels.
QByteArray rectangleFlood(int width, int height, int count) {
    QByteArray body;
    const QByteArray rect = "<rect width=\"" + QByteArray::number(width) + "\" height=\"" +
                            QByteArray::number(height) + "\" fill=\"#336699\" fill-opacity=\"0.01\"/>";
    body.reserve(qsizetype(count) * rect.size());
    for (int i = 0; i < count; ++i)
        body += rect;
    return svgOf(width, height, body);
}

QByteArray gzipped(const QByteArray& bytes) {
    z_stream stream{};
    QByteArray out(bytes.size() + 1024, Qt::Uninitialized);
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

bool cancelled(const Result<QImage>& image) {
    return !image.ok() && image.error().domain == kPosixErrorDomain && image.error().sysErrno == ECANCELED;
}

template <class T>
bool hasImageCode(const Result<T>& result, int code) {
    return !result.ok() && result.error().domain == kImageErrorDomain && result.error().code == code;
}

class SvgDecodeTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(SvgDecodeTest, AnSvgIsDrawnAtTheSizeAskedWithItsTransparency) {
    // Qt's thread pool holds idle threads, as it does after any large picture was scaled: the copy
    // of the process that draws must not hand its work to them, which it does not have.
    QImage large(3000, 3000, QImage::Format_ARGB32_Premultiplied);
    large.fill(Qt::white);
    ASSERT_FALSE(large.scaled(1000, 1000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).isNull());
    ASSERT_GT(QThreadPool::globalInstance()->activeThreadCount() + 1, 0);
    // A red square in the left half of a clear 400 x 200 picture.
    const QByteArray svg =
        svgOf(400, 200, "<rect x=\"20\" y=\"20\" width=\"160\" height=\"160\" fill=\"red\"/>");
    writeFile(path("square.svg"), svg);
    writeFile(path("square.svgz"), gzipped(svg));
    const std::function<bool()> never = [] { return false; };
    const struct {
        const char* name;
        std::function<Result<QImage>(int)> decode;
        std::function<Result<ImageHeader>()> header;
    } cases[] = {
        {"file", [&](int size) { return ImageDecoder::decodeScaled(path("square.svg"), size, never); },
         [&] { return ImageDecoder::readHeader(path("square.svg")); }},
        {"bytes", [&](int size) { return ImageDecoder::decodeScaled(svg, size); },
         [&] { return ImageDecoder::readHeader(svg); }},
        {"compressed file",
         [&](int size) { return ImageDecoder::decodeScaled(path("square.svgz"), size, never); },
         [&] { return ImageDecoder::readHeader(path("square.svgz")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto header = c.header();
        ASSERT_TRUE(header.ok());
        EXPECT_TRUE(header->format == "svg" && header->size == QSize(400, 200) && header->orientation == 1);
        for (const int size : {0, 100}) {
            const auto image = c.decode(size);
            ASSERT_TRUE(image.ok()) << image.error().message.toStdString();
            const double scale = size == 0 ? 1.0 : 0.25;
            ASSERT_EQ(image->size(), QSize(400, 200) * scale);
            EXPECT_EQ(image->pixelColor(QPoint(100, 100) * scale), QColor(Qt::red)) << size;
            EXPECT_EQ(image->pixelColor(QPoint(300, 100) * scale).alpha(), 0) << size;
        }
    }
    // What the plugin cannot read, and a document claiming more than the cap, are refused as any
    // other picture is.
    EXPECT_TRUE(
        hasImageCode(ImageDecoder::decode(QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect")),
                     kImageUnreadableCode));
    EXPECT_TRUE(hasImageCode(ImageDecoder::readHeader(svgOf(20000, 20000, {})), kImageTooLargeCode));
    EXPECT_TRUE(hasImageCode(ImageDecoder::decodeScaled(svgOf(20000, 20000, {}), 256), kImageTooLargeCode));
}

TEST_F(SvgDecodeTest, ItsSizeIsReadInTheHelperWhoseWordsStayOffTheStandardError) {
    // Qt's plugin reads the whole document for its size and speaks of what it cannot resolve: in
    // the helper, bounded, and silent.
    const QByteArray svg = svgOf(300, 200,
                                 "<rect width=\"30\" height=\"20\" fill=\"url(#nowhere)\"/>"
                                 "<use xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:href=\"#none\"/>");
    writeFile(path("unresolved.svg"), svg);
    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "bytes");
        StandardErrorCapture capture;
        const auto header =
            fromFile ? ImageDecoder::readHeader(path("unresolved.svg")) : ImageDecoder::readHeader(svg);
        ASSERT_TRUE(header.ok());
        EXPECT_EQ(header->size, QSize(300, 200));
        EXPECT_EQ(capture.written().toStdString(), "");
    }
}

TEST_F(SvgDecodeTest, ADrawingPastItsBoundIsRefusedAndAStopEndsItAtOnce) {
    // Two thousand translucent rectangles over 4000 x 3000: minutes of drawing at full size.
    const QByteArray flood = rectangleFlood(4000, 3000, 2000);
    writeFile(path("flood.svg"), flood);
    const auto header = ImageDecoder::readHeader(path("flood.svg"));
    ASSERT_TRUE(header.ok()) << "reading the size is cheap";
    EXPECT_EQ(header->size, QSize(4000, 3000));
    int asked = 0;
    const auto refused = ImageDecoder::decodeScaled(path("flood.svg"), 0, [&] { return ++asked < 0; });
    EXPECT_TRUE(hasImageCode(refused, kImageUnreadableCode)) << "a drawing past its bound is damaged";
    EXPECT_GE(asked, 10) << "the stop was asked only " << asked << " times while the drawing went on";
    EXPECT_TRUE(hasImageCode(ImageDecoder::decode(flood), kImageUnreadableCode))
        << "bounded with no stop too";

    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "bytes");
        asked = 0;
        const std::function<bool()> stop = [&] { return ++asked > 3; };
        const auto stopped = fromFile ? ImageDecoder::decodeScaled(path("flood.svg"), 0, stop)
                                      : ImageDecoder::decodeScaled(flood, 0, stop);
        EXPECT_TRUE(cancelled(stopped));
        EXPECT_LE(asked, 5) << "the drawing went on after the stop";
        // The size is read in the helper too, which a document linking what blocks holds until its
        // deadline: a stop ends that read as well.
        const std::function<bool()> now = [] { return true; };
        const auto header = fromFile ? ImageDecoder::readHeader(path("flood.svg"), now)
                                     : ImageDecoder::readHeader(flood, now);
        EXPECT_TRUE(!header.ok() && header.error().domain == kPosixErrorDomain &&
                    header.error().sysErrno == ECANCELED)
            << "the size was read past the stop";
    }
    // Every drawing's process is gone once its answer is in.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// A picture the user can read lies beside the document, and a FIFO nobody writes to: an SVG naming
// either, in whatever way the plugin would follow, draws the rest of itself and nothing of them.
TEST_F(SvgDecodeTest, AnSvgDrawsFromItsOwnBytesOnly) {
    saveImage(makeImage(40, 40, Qt::red), path("red.png"));
    writeFile(path("red.css"), "rect { fill: #ff0000; }\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("waiting")).constData(), 0600), 0);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    makeImage(40, 40, Qt::red).save(&buffer, "PNG");
    const auto image = [](const QByteArray& link) {
        return "<image x=\"0\" y=\"0\" width=\"40\" height=\"40\" xlink:href=\"" + link + "\"/>";
    };
    const auto document = [](const QByteArray& body, const QByteArray& before = {}) {
        return "<?xml version=\"1.0\"?>\n" + before +
               "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
               "width=\"80\" height=\"40\"><rect x=\"40\" width=\"40\" height=\"40\" fill=\"blue\"/>" +
               body + "</svg>\n";
    };
    const QByteArray outside = QFile::encodeName(path("red.png"));
    const QByteArray nested = document(image(outside));
    const struct {
        const char* what;
        QByteArray svg;
        bool drawsRed;
    } cases[] = {
        {"an absolute link", document(image(outside)), false},
        {"a link beside the document", document(image("red.png")), false},
        {"an SVG embedded with a link of its own",
         document(image("data:image/svg+xml;base64," + nested.toBase64())), false},
        {"a style sheet",
         document("<rect width=\"40\" height=\"40\"/>", "<?xml-stylesheet type=\"text/css\" href=\"" +
                                                            QFile::encodeName(path("red.css")) + "\"?>\n"),
         false},
        {"a FIFO", document(image(QFile::encodeName(path("waiting")))), false},
        {"a terminal", document(image("/dev/ptmx")), false},
        {"an embedded picture", document(image("data:image/png;base64," + png.toBase64())), true},
    };
    for (const auto& c : cases) {
        writeFile(path("linking.svg"), c.svg);
        for (const bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (fromFile ? " in a file" : " in bytes"));
            QElapsedTimer reading;
            reading.start();
            const auto header =
                fromFile ? ImageDecoder::readHeader(path("linking.svg")) : ImageDecoder::readHeader(c.svg);
            const auto drawn = fromFile
                                   ? ImageDecoder::decodeScaled(path("linking.svg"), 0, [] { return false; })
                                   : ImageDecoder::decodeScaled(c.svg, 0);
            // A read that blocked would last the helper's whole bound of 10 s.
            EXPECT_LT(reading.elapsed(), 5000) << "a read waited";
            ASSERT_TRUE(header.ok());
            EXPECT_EQ(header->size, QSize(80, 40));
            ASSERT_TRUE(drawn.ok()) << drawn.error().message.toStdString();
            EXPECT_EQ(drawn->pixelColor(60, 20), QColor(Qt::blue)) << "the document's own drawing went";
            const QColor left = drawn->pixelColor(20, 20);
            EXPECT_EQ(left == QColor(Qt::red), c.drawsRed) << left.name(QColor::HexArgb).toStdString();
        }
    }
}

// Without its helper no SVG can be drawn: said once, with the reason, and every SVG is refused.
TEST_F(SvgDecodeTest, AMissingHelperIsSaidOnceOnStandardError) {
    const QByteArray svg = svgOf(40, 40, "<rect width=\"40\" height=\"40\" fill=\"red\"/>");
    writeFile(path("square.svg"), svg);
    const auto restore = qScopeGuard([] { image_decoding::setSvgProgramForTesting({}); });
    for (const bool executable : {false, true}) {
        SCOPED_TRACE(executable ? "not executable" : "missing");
        const QString program = path(executable ? "not-executable" : "missing");
        if (executable)
            writeFile(program, "#!/bin/sh\n");
        image_decoding::setSvgProgramForTesting(QFile::encodeName(program));
        test::StandardErrorCapture said;
        EXPECT_TRUE(hasImageCode(ImageDecoder::readHeader(path("square.svg")), kImageUnreadableCode));
        EXPECT_TRUE(hasImageCode(ImageDecoder::decodeScaled(svg, 100), kImageUnreadableCode));
        EXPECT_TRUE(hasImageCode(ImageDecoder::decode(path("square.svg")), kImageUnreadableCode));
        const QByteArray text = said.written();
        EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
        EXPECT_TRUE(text.contains("SVG") && text.contains(QFile::encodeName(program)) &&
                    text.contains(executable ? "Permission denied" : "No such file"))
            << text.toStdString();
    }
    image_decoding::setSvgProgramForTesting({});
    EXPECT_TRUE(ImageDecoder::decode(path("square.svg")).ok()) << "the helper found again draws";
}

} // namespace
} // namespace vennimo
