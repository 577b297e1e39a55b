#include "platform/ImageDecoder.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

// The decoder has the last word on a file whose content is in a format it reads itself, whatever
// its name says and however damaged it is; not on a camera RAW, of which it reads only the
// preview, nor on a file it cannot open or whose format none of its readers knows.
TEST(ImageDecoderFormat, TheDecoderHasTheLastWordOnlyOnFormatsItReadsItself) {
    QTemporaryDir dir;
    const QByteArray jpeg = encoded(makeImage(40, 30), "jpeg");
    const QByteArray png = encoded(makeImage(40, 30), "png");
    const struct {
        const char* name;
        QByteArray bytes;
        bool read;
    } cases[] = {
        {"photo.jpg", jpeg, true},
        {"named-otherwise.png", jpeg, true},
        {"cut.png", png.left(png.size() / 2), true},
        {"scans.jpg", manyScanJpeg(10000, 10000, 20000), true},
        {"tiny.gif", QByteArray("GIF89a\x08\x00\x08\x00", 10), true},
        {"cut.webp", QByteArray("RIFF\x40\x00\x00\x00WEBPVP8L", 16), true},
        {"cut.heic", QByteArray::fromHex("00000018 66747970 68656963 00000000 6d696631 68656963"), true},
        {"layers.psd", "no picture the decoder reads", false},
        {"camera.cr2",
         QByteArray("II*\x00\x10\x00\x00\x00"
                    "CR",
                    10) +
             jpeg,
         false},
        {"empty.jpg", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.filePath(c.name), c.bytes);
        EXPECT_EQ(ImageDecoder::readsFormatOf(dir.filePath(c.name)), c.read);
    }
    EXPECT_FALSE(ImageDecoder::readsFormatOf(dir.filePath("missing.jpg")));
}
