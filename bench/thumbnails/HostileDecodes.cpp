// bench_thumbnails --hostile [CASE]: each case below is written once, then decoded by this program
// started again with --hostile-case, so that its peak memory is its own. Prints per case:
//   decode: the result of one decode to 256 px, its wall time and the processor time of this
//           process and of the children it waited for (a helper that draws)
//   stop:   how long after a stop set 100 ms into a second decode the decode returned
//   peak:   the largest resident size of this process and of its largest child
#include "HostileDecodes.h"

#include "platform/ImageDecoder.h"
#include "support/TestImages.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <zlib.h>

namespace vennimo::bench {

namespace {

constexpr int kThumbnailSide = 256;
constexpr auto kStopAfter = std::chrono::milliseconds(100);

struct Case {
    const char* name;
    const char* file;
    QByteArray (*make)();
};

QByteArray svgFlood() {
    // 100,000 translucent rectangles over 4000 x 3000: 8 MB.
    QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4000\" height=\"3000\">";
    for (int i = 0; i < 100'000; ++i)
        svg += "<rect width=\"4000\" height=\"3000\" fill=\"#336699\" fill-opacity=\"0.01\"/>";
    return svg + "</svg>";
}

QByteArray losslessWebp() {
    QImage image(10000, 10000, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), image.width(),
                    (y / 7) % 2 ? 0xff000000u : 0xffffffffu);
    return test::webpOf(image, true);
}

// One colour with no palette: libwebp holds the whole picture at four bytes a pixel.
QByteArray flatLosslessWebp() {
    return test::flatLosslessWebp({10000, 10000}, 0xff336699u);
}

QByteArray animatedWebp() {
    QImage red(4000, 4000, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QImage blue(4000, 4000, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    return test::animatedWebp({4000, 4000}, {{red, {}}, {blue, {}}});
}

QByteArray interlacedPng() {
    return test::greyPng(10000, 10000, 5000, true);
}

QByteArray plainPng() {
    return test::greyPng(10000, 10000, 5000);
}

// A picture far wider than high in flat colour and alpha, `depth` bits a channel: under a
// megabyte that inflates to hundreds, whatever size it is decoded to.
QByteArray widePng(quint32 width, quint32 height, int depth) {
    QByteArray ihdr(13, '\0');
    qToBigEndian(width, ihdr.data());
    qToBigEndian(height, ihdr.data() + 4);
    ihdr[8] = char(depth);
    ihdr[9] = 6; // colour and alpha
    QByteArray row(1 + qsizetype(width) * 4 * depth / 8, '\x40');
    row[0] = 0; // no filter
    z_stream stream{};
    if (deflateInit(&stream, 9) != Z_OK)
        return {};
    QByteArray data;
    QByteArray out(1 << 20, Qt::Uninitialized);
    for (quint32 y = 0; y <= height; ++y) {
        const bool last = y == height;
        stream.next_in = last ? nullptr : reinterpret_cast<Bytef*>(row.data());
        stream.avail_in = last ? 0 : uInt(row.size());
        int status = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = uInt(out.size());
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            data.append(out.constData(), out.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
    }
    deflateEnd(&stream);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + test::pngChunk("IHDR", ihdr) + test::pngChunk("IDAT", data) +
           test::pngChunk("IEND", {});
}

QByteArray wide16BitPng() {
    return widePng(1'100'000, 90, 16);
}

QByteArray wide8BitPng() {
    return widePng(2'000'000, 50, 8);
}

// 2.5 million empty chunks of no known kind, 20 MB, before a photo-sized picture.
QByteArray chunkedWebp() {
    QImage image(1200, 900, QImage::Format_RGB32);
    image.fill(0xff336699u);
    return test::withEmptyChunks(test::webpOf(image, false), 2'500'000);
}

const Case kCases[] = {{"svg flood (100,000 rects, 4000x3000)", "flood.svg", svgFlood},
                       {"lossless webp 10000x10000", "lossless.webp", losslessWebp},
                       {"lossless webp 10000x10000 without a palette", "flat.webp", flatLosslessWebp},
                       {"animated webp 4000x4000", "animated.webp", animatedWebp},
                       {"interlaced png 10000x10000", "interlaced.png", interlacedPng},
                       {"png 10000x10000", "plain.png", plainPng},
                       {"16-bit png 1100000x90 with alpha", "wide16.png", wide16BitPng},
                       {"png 2000000x50 with alpha", "wide8.png", wide8BitPng},
                       {"webp of 2.5 million empty chunks, then 1200x900", "chunked.webp", chunkedWebp}};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

QString outcome(const Result<QImage>& image) {
    if (image.ok())
        return QStringLiteral("%1x%2").arg(image->width()).arg(image->height());
    return QStringLiteral("refused (%1)").arg(image.error().message);
}

// One case in this process.
int decodeCase(const QString& path) {
    const double cpu = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    auto start = std::chrono::steady_clock::now();
    const auto image = ImageDecoder::decodeScaled(path, kThumbnailSide, [] { return false; });
    const double wall = secondsSince(start);
    std::printf("  decode: %s in %.2f s wall, %.2f s cpu\n", qPrintable(outcome(image)), wall,
                cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpu);
    // Seen as it comes: a decode before the stop may take minutes.
    std::fflush(stdout);

    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    start = std::chrono::steady_clock::now();
    std::thread decoding([&] {
        const auto image = ImageDecoder::decodeScaled(path, kThumbnailSide, [&] { return stop.load(); });
        static_cast<void>(image);
        done.store(true);
    });
    while (!done.load() && std::chrono::steady_clock::now() - start < kStopAfter)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (done.load()) {
        decoding.join();
        std::printf("  stop:   the decode ended before the stop, %.0f ms in\n", secondsSince(start) * 1000);
    } else {
        const auto stopped = std::chrono::steady_clock::now();
        stop.store(true);
        decoding.join();
        std::printf("  stop:   answered %.0f ms after it was set\n", secondsSince(stopped) * 1000);
    }
    // VmHWM, unlike getrusage's figure for this process, starts afresh at the exec that began it.
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 peakKb = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peakKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("  peak:   %.0f MB resident (largest child %.0f MB)\n", double(peakKb) / 1024,
                double(children.ru_maxrss) / 1024);
    return 0;
}

} // namespace

int runHostileDecodes(const QStringList& arguments) {
    if (arguments.value(0) == QLatin1String("--hostile-case"))
        return decodeCase(arguments.value(1));
    QTemporaryDir folder;
    for (const Case& c : kCases) {
        if (!arguments.isEmpty() && !QString::fromLatin1(c.file).startsWith(arguments.constFirst()))
            continue;
        const QString path = folder.filePath(QString::fromLatin1(c.file));
        QFile file(path);
        const QByteArray bytes = c.make();
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 2;
        file.close();
        std::printf("%s: %lld bytes\n", c.name, static_cast<long long>(bytes.size()));
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--hostile"), QStringLiteral("--hostile-case"), path});
        child.waitForFinished(-1);
    }
    return 0;
}

} // namespace vennimo::bench
