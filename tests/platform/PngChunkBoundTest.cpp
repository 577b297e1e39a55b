#include "platform/ImageDecoder.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vennimo {
namespace {

using namespace test;

// A read of a picture of one pixel keeps a few rows and zlib's window; a chunk's claim taken at
// its word costs up to 2 GiB.
constexpr qint64 kMaxPeakGrowthBytes = 16 << 20;
constexpr quint32 kClaimedChunkBytes = 0x7FFFFFF0;
constexpr qsizetype kSignatureAndHeaderBytes = 8 + 12 + 13;
constexpr qsizetype kEndChunkBytes = 12;

QByteArray onePixelPng(const QColorSpace& space = {}) {
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 30));
    if (space.isValid())
        image.setColorSpace(space);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

// `chunk` just after the header, or just before the end: after the picture's data.
QByteArray withChunk(QByteArray png, const QByteArray& chunk, bool afterData) {
    return png.insert(afterData ? png.size() - kEndChunkBytes : kSignatureAndHeaderBytes, chunk);
}

// A chunk claiming kClaimedChunkBytes of which the file holds a few: the 83-byte kind.
QByteArray hugeClaim(const QByteArray& type) {
    QByteArray chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char(kClaimedChunkBytes >> shift));
    return chunk + type + QByteArray("Title\0\0\0", 8);
}

// How far the resident memory's peak rose while `read` ran, in a child process so that what a
// read keeps goes with it; -1 when the child did not report.
qint64 peakGrowthBytes(const std::function<void()>& read) {
    int channel[2];
    if (::pipe(channel) != 0)
        return -1;
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        ::close(channel[0]);
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        read();
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const qint64 grown = qint64(after.ru_maxrss - before.ru_maxrss) * 1024;
        _exit(::write(channel[1], &grown, sizeof grown) == sizeof grown ? 0 : 1);
    }
    ::close(channel[1]);
    qint64 grown = -1;
    if (child < 0 || ::read(channel[0], &grown, sizeof grown) != sizeof grown)
        grown = -1;
    ::close(channel[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    return grown;
}

TEST(PngChunkBoundTest, AChunkClaimingGigabytesCostsNoMoreThanThePicture) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray plain = onePixelPng();
    for (const char* type : {"tEXt", "zTXt", "iTXt", "pCAL", "sCAL", "sPLT", "iCCP", "eXIf", "zzZz"})
        for (const bool afterData : {false, true}) {
            SCOPED_TRACE(std::string(type) + (afterData ? " after the data" : " before the data"));
            const QByteArray png = withChunk(plain, hugeClaim(type), afterData);
            const QString path = folder.filePath(QStringLiteral("%1-%2.png").arg(type).arg(afterData));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
            file.close();
            // From memory as a drop reads it, and from the file as sizes and thumbnails do.
            const qint64 grown = peakGrowthBytes([&] {
                (void)ImageDecoder::decodeScaled(png, 0, [] { return false; });
                (void)ImageDecoder::decodeScaled(path, 256, [] { return false; });
                (void)ImageDecoder::decode(path);
            });
            ASSERT_GE(grown, 0);
            EXPECT_LT(grown, kMaxPeakGrowthBytes) << grown / (1 << 20) << " MiB";
            // The claim runs past the end of the file: whatever was read of it is no picture.
            if (!afterData) {
                EXPECT_FALSE(ImageDecoder::decode(png).ok());
            }
        }
}

TEST(PngChunkBoundTest, WhatAPictureIsDrawnWithStillComesAndOtherChunksAreSteppedOver) {
    // Text before and after the data, as editors and thumbnailers write it, is read past.
    const QByteArray text = pngChunk("tEXt", QByteArray("Software\0Editor", 15));
    const QByteArray packed = pngChunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress("words").mid(4));
    for (const bool afterData : {false, true}) {
        const auto decoded =
            ImageDecoder::decode(withChunk(withChunk(onePixelPng(), text, afterData), packed, afterData));
        ASSERT_TRUE(decoded.ok()) << afterData;
        EXPECT_EQ(decoded->pixelColor(0, 0), QColor(200, 30, 30)) << afterData;
    }
    // A colour profile: its chunk is the one ancillary chunk of any size still read.
    const auto wide = ImageDecoder::decode(onePixelPng(QColorSpace::DisplayP3));
    ASSERT_TRUE(wide.ok());
    EXPECT_EQ(wide->colorSpace().primaries(), QColorSpace::Primaries::DciP3D65);
    EXPECT_EQ(wide->pixelColor(0, 0), QColor(200, 30, 30));
}

} // namespace
} // namespace vennimo
