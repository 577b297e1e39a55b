#include "platform/ImageDecoder.h"
#include "platform/JpegDecoder.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace vennimo {
namespace {

using namespace test;

bool cancelled(const Error& error) {
    return error.domain == kPosixErrorDomain && error.sysErrno == ECANCELED;
}

// A progressive photo whose first scan's data is `pairs` two-byte runs of `pair` long: a header
// read looks for further scans through that data.
QByteArray withLongFirstScan(const QByteArray& pair, qsizetype pairs) {
    const QByteArray jpeg = jpegOf(makeImage(64, 48), 90, true);
    const qsizetype scan = jpeg.indexOf(QByteArray("\xff\xda", 2));
    const qsizetype data = scan + 2 + (uchar(jpeg[scan + 2]) << 8 | uchar(jpeg[scan + 3]));
    return jpeg.left(data) + pair.repeated(pairs) + jpeg.mid(data);
}

// Stuffed bytes and restart markers are scan data like any other: a header read looks through a
// megabyte of them and no more, however little lies between, and a stop ends any walk.
TEST(JpegMarkerWalk, AHeaderReadCountsEveryByteOfScanDataAndLooksAtItsStop) {
    QTemporaryDir dir;
    constexpr qsizetype kPairs = 8 << 20;
    const struct {
        const char* what;
        QByteArray jpeg;
    } cases[] = {
        {"stuffed bytes", withLongFirstScan(QByteArray("\xff\x00", 2), kPairs)},
        {"restart markers", withLongFirstScan(QByteArray("\xff\xd3", 2), kPairs)},
        {"fill before restart markers", withLongFirstScan(QByteArray("\xff\xff\xff\xd0", 4), kPairs / 2)},
    };
    for (const auto& c : cases) {
        writeFile(dir.filePath("long.jpg"), c.jpeg);
        for (const bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (fromFile ? " in a file" : " in bytes"));
            int asked = 0;
            const std::function<bool()> counting = [&] { return ++asked < 0; };
            const auto layout = fromFile ? JpegDecoder::readLayout(dir.filePath("long.jpg"), counting)
                                         : JpegDecoder::readLayout(c.jpeg, counting);
            ASSERT_TRUE(layout.ok());
            EXPECT_EQ(layout->size, QSize(64, 48));
            // One look a 64 KiB chunk: a megabyte is sixteen of them, the whole 16 MB 256.
            EXPECT_LE(asked, 24) << "the header read looked through more than a megabyte of scan data";

            asked = 0;
            const std::function<bool()> stopAtOnce = [&] { return ++asked > 0; };
            const auto header = fromFile ? ImageDecoder::readHeader(dir.filePath("long.jpg"), stopAtOnce)
                                         : ImageDecoder::readHeader(c.jpeg, stopAtOnce);
            ASSERT_FALSE(header.ok());
            EXPECT_TRUE(cancelled(header.error())) << header.error().message.toStdString();
            const auto decoded = fromFile
                                     ? ImageDecoder::decodeScaled(dir.filePath("long.jpg"), 32, stopAtOnce)
                                     : ImageDecoder::decodeScaled(c.jpeg, 32, stopAtOnce);
            ASSERT_FALSE(decoded.ok());
            EXPECT_TRUE(cancelled(decoded.error()));
        }
    }
}

} // namespace
} // namespace vennimo
