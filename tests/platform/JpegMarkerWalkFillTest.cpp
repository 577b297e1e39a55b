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

constexpr qsizetype kLongRunBytes = 16 << 20;
// One look at the stop a 64 KiB chunk: the megabyte a header read may look through is sixteen of
// them, the long run 256.
constexpr int kMostLooksOfAHeaderRead = 24;

bool cancelled(const Error& error) {
    return error.domain == kPosixErrorDomain && error.sysErrno == ECANCELED;
}

// `bytes` inserted before the `nth` `marker` (its two bytes), or right after its segment with
// `afterSegment`.
QByteArray withInserted(const QByteArray& jpeg, const char* marker, const QByteArray& bytes,
                        bool afterSegment, int nth = 1) {
    qsizetype at = -2;
    for (int i = 0; i < nth; ++i)
        at = jpeg.indexOf(QByteArray(marker, 2), at + 2);
    const qsizetype end = at + 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]));
    return jpeg.left(afterSegment ? end : at) + bytes + jpeg.mid(afterSegment ? end : at);
}

// Whatever the walk looks through counts toward the megabyte a header read may look at: fill and
// stray bytes before the frame, as well as the data of a scan. A read of a picture that has not
// begun its first scan by then is refused; one that has keeps what it counted. A decoding still
// walks to the end and shows the picture, its stop looked at all along.
TEST(JpegMarkerWalkFill, AHeaderReadCountsFillAndStrayBytesWhereverTheyLie) {
    QTemporaryDir dir;
    const QByteArray photo = jpegOf(makeImage(64, 48), 90);
    const QByteArray progressive = jpegOf(makeImage(64, 48), 90, true);
    const QByteArray fill(kLongRunBytes, '\xff');
    const struct {
        const char* what;
        QByteArray jpeg;
        bool readable;
    } cases[] = {
        {"fill before the frame", withInserted(photo, "\xff\xc0", fill, false), false},
        {"fill after the first segment", withInserted(photo, "\xff\xe0", fill, true), false},
        {"stray bytes before the frame",
         withInserted(photo, "\xff\xc0", QByteArray(kLongRunBytes, '\x5a'), false), false},
        {"fill ending the first scan", withInserted(progressive, "\xff\xda", fill, false, 2), true},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath("filled.jpg");
        writeFile(path, c.jpeg);
        for (const bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (fromFile ? " in a file" : " in bytes"));
            int asked = 0;
            const std::function<bool()> counting = [&] { return ++asked < 0; };
            const auto layout = fromFile ? JpegDecoder::readLayout(path, counting)
                                         : JpegDecoder::readLayout(c.jpeg, counting);
            EXPECT_LE(asked, kMostLooksOfAHeaderRead)
                << "the header read looked through more than a megabyte";
            ASSERT_EQ(layout.ok(), c.readable);
            if (c.readable) {
                EXPECT_EQ(layout->size, QSize(64, 48));
            } else {
                EXPECT_FALSE(cancelled(layout.error()));
            }

            asked = 0;
            const std::function<bool()> stopAtOnce = [&] { return ++asked > 0; };
            const auto header = fromFile ? ImageDecoder::readHeader(path, stopAtOnce)
                                         : ImageDecoder::readHeader(c.jpeg, stopAtOnce);
            ASSERT_FALSE(header.ok());
            EXPECT_TRUE(cancelled(header.error())) << header.error().message.toStdString();

            const auto decoded = fromFile ? ImageDecoder::decodeScaled(path, 32, counting)
                                          : ImageDecoder::decodeScaled(c.jpeg, 32, counting);
            ASSERT_TRUE(decoded.ok());
            EXPECT_EQ(decoded->size(), QSize(32, 24));
        }
        // The working memory a drop reserves for the file is read with the drop's stop.
        int asked = 0;
        EXPECT_EQ(ImageDecoder::workingBytesOf(path, [&] { return ++asked > 0; }), 0);
        EXPECT_EQ(asked, 1) << c.what;
    }
}

} // namespace
} // namespace vennimo
