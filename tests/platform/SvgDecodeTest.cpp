#include "platform/ImageDecoder.h"
#include "platform/ImageDecoderShared.h"
#include "support/StandardErrorCapture.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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

// `head` and then `fill` up to `total` bytes, gzipped a chunk at a time: a bomb made without
// holding what it inflates to.
QByteArray gzippedFill(const QByteArray& head, char fill, qint64 total) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out;
    const QByteArray chunk(1 << 20, fill);
    char buffer[1 << 16];
    for (qint64 given = 0; given < total || stream.avail_in > 0;) {
        const QByteArray& next = given == 0 ? head : chunk;
        const bool last = given + next.size() >= total;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next.constData()));
        stream.avail_in = uInt(next.size());
        given += next.size();
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
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

struct AfterDocument {
    // The opens strace saw give a descriptor after the one that opened the document.
    QStringList opened;
    // Whether the kernel was asked to refuse later opens, and agreed, before anything else.
    bool restricted = false;
};

AfterDocument afterDocument(const QString& log, const QByteArray& document) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {{QStringLiteral("no strace log")}};
    AfterDocument after;
    bool read = false;
    const QRegularExpression succeeded(QStringLiteral("= \\d+$"));
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!read) {
            read = line.contains("\"" + document + "\"");
            continue;
        }
        const QString text = QString::fromUtf8(line);
        if (!text.contains(succeeded))
            continue;
        if (text.contains(QLatin1String("landlock_restrict_self(")) ||
            text.contains(QLatin1String("seccomp(")))
            after.restricted = after.opened.isEmpty();
        else
            after.opened.append(text);
    }
    if (!read)
        after.opened.append(QStringLiteral("the document was never opened"));
    return after;
}

// A document gzipped twice over, or naming a style sheet: once the helper has read its own bytes
// it opens nothing, whatever the plugin would follow in them (the linked picture, a FIFO that
// holds a reader, a terminal) and whether or not the filter saw the link.
TEST_F(SvgDecodeTest, TheHelperOpensNothingOnceItsDocumentIsRead) {
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    ASSERT_FALSE(strace.isEmpty()) << "strace is installed by scripts/install-deps";
    saveImage(makeImage(40, 40, Qt::red), path("red.png"));
    writeFile(path("red.css"), "rect { fill: #ff0000; }\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("waiting")).constData(), 0600), 0);
    const auto releaseReaders = qScopeGuard([&] {
        const int writer =
            ::open(QFile::encodeName(path("waiting")).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    });
    const QString log = path("opens.log");
    writeFile(path("traced-helper"),
              "#!/bin/sh\nexec '" + QFile::encodeName(strace) +
                  "' -f -qq -s 4096 -e trace=open,openat,openat2,creat,landlock_restrict_self,seccomp -o '" +
                  QFile::encodeName(log) + "' '" VENNIMO_SVG_DRAW_PROGRAM "' \"$@\"\n");
    ASSERT_TRUE(QFile::setPermissions(path("traced-helper"), QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard([] { image_decoding::setSvgProgramForTesting({}); });
    image_decoding::setSvgProgramForTesting(QFile::encodeName(path("traced-helper")));

    const auto document = [](const QByteArray& body, const QByteArray& before = {}) {
        return "<?xml version=\"1.0\"?>\n" + before +
               "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
               "width=\"80\" height=\"40\"><rect x=\"40\" width=\"40\" height=\"40\" fill=\"blue\"/>" +
               body + "</svg>\n";
    };
    const auto image = [&](const QString& link) {
        return document("<image width=\"40\" height=\"40\" xlink:href=\"" + QFile::encodeName(link) + "\"/>");
    };
    const QByteArray styled =
        document("<rect width=\"40\" height=\"40\"/>", "<?xml-stylesheet type=\"text/css\" href=\"" +
                                                           QFile::encodeName(path("red.css")) + "\"?>\n");
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"a picture, gzipped twice", gzipped(gzipped(image(path("red.png"))))},
        {"a FIFO, gzipped twice", gzipped(gzipped(image(path("waiting"))))},
        {"a terminal, gzipped twice", gzipped(gzipped(image(QStringLiteral("/dev/ptmx"))))},
        {"a style sheet", styled},
        {"a style sheet, gzipped twice", gzipped(gzipped(styled))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = path("linking.svgz");
        writeFile(file, c.bytes);
        QFile::remove(log);
        QElapsedTimer reading;
        reading.start();
        const auto drawn = ImageDecoder::decodeScaled(file, 0, [] { return false; });
        EXPECT_LT(reading.elapsed(), 5000) << "a read waited";
        const AfterDocument after = afterDocument(log, QFile::encodeName(file));
        EXPECT_TRUE(after.opened.isEmpty()) << after.opened.join(QLatin1Char('\n')).toStdString();
        // Where the filter alone kept the links out, what it may miss next time is kept out too.
        EXPECT_TRUE(after.restricted) << "the helper did not have the kernel refuse its later opens";
        // The rest is tried too: a case that failed here must not hide the others.
        EXPECT_TRUE(drawn.ok()) << drawn.error().message.toStdString();
        if (drawn.ok()) {
            EXPECT_EQ(drawn->pixelColor(60, 20), QColor(Qt::blue));
            EXPECT_NE(drawn->pixelColor(20, 20), QColor(Qt::red));
        }
    }
    // A layer inside those two is refused, as the plugin refuses it.
    writeFile(path("thrice.svgz"), gzipped(gzipped(gzipped(image(path("red.png"))))));
    EXPECT_TRUE(hasImageCode(ImageDecoder::decodeScaled(path("thrice.svgz"), 0, [] { return false; }),
                             kImageUnreadableCode));
    // Each layer keeps the byte bound: a few kilobytes that inflate to a gigabyte twice over are
    // refused where the bound is passed, not read on until the helper's time is up.
    image_decoding::setSvgProgramForTesting({});
    const QByteArray bomb = gzipped(gzippedFill(svgOf(100, 100, {}) + "<!--", ' ', qint64(1) << 30));
    ASSERT_LT(bomb.size(), 8 << 10);
    writeFile(path("bomb.svgz"), bomb);
    QElapsedTimer refusing;
    refusing.start();
    EXPECT_TRUE(hasImageCode(ImageDecoder::readHeader(path("bomb.svgz")), kImageUnreadableCode));
    EXPECT_LT(refusing.elapsed(), 5000);
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
