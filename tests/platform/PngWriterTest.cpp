#include "platform/PngWriter.h"

#include <QColorSpace>
#include <QImage>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace vennimo;

namespace {

// What the work wrote to stderr, read back through a pipe put in its place.
template <class Work>
std::string stderrOf(Work work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return "<no pipe>";
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(fds[1], 2);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(fds[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, size_t(n));
    ::close(fds[0]);
    return said;
}

QImage gradient(int width, int height, bool alpha) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x & 255, y & 255, (x + y) & 255, alpha ? (x * 7) & 255 : 255));
    return image;
}

} // namespace

TEST(PngWriter, EncodesWhatQtReadsBackAndStopsBetweenRowsSayingNothing) {
    for (const bool alpha : {false, true}) {
        const QImage image = gradient(300, 200, alpha);
        const auto png = PngWriter::encode(image, 1);
        ASSERT_TRUE(png) << "alpha " << alpha;
        const QImage back = QImage::fromData(*png, "png");
        EXPECT_EQ(back.hasAlphaChannel(), alpha);
        EXPECT_EQ(back.convertToFormat(image.format()), image) << "alpha " << alpha;
    }
    EXPECT_FALSE(PngWriter::encode(QImage(), 1));

    // A stop met after some rows went out ends the encoding there, without a word on stderr.
    int looks = 0;
    std::optional<QByteArray> stopped = QByteArray("unset");
    const std::string said = stderrOf([&] {
        stopped = PngWriter::encode(gradient(64, 4 * PngWriter::kRowsPerLook, false), 1,
                                    [&looks] { return ++looks == 3; });
    });
    EXPECT_FALSE(stopped);
    EXPECT_EQ(looks, 3) << "the stop is looked at between rows";
    EXPECT_EQ(said, "");
}

// The pixels are written as they are, in the image's colour space, so that space must go with them.
TEST(PngWriter, EvenTheFastestLevelCompresses) {
    // The clipboard's PNG, written at the fastest level: a screenshot-like picture of flat colour
    // must come out a small fraction of its pixels, not stored as they are.
    QImage flat(800, 600, QImage::Format_RGB32);
    flat.fill(QColor(40, 90, 160));
    const auto png = PngWriter::encode(flat, 1);
    ASSERT_TRUE(png);
    EXPECT_LT(png->size(), flat.width() * flat.height() * 3 / 50);
    EXPECT_LE(PngWriter::encode(gradient(300, 200, true), 9)->size(),
              PngWriter::encode(gradient(300, 200, true), 1)->size());
}

TEST(PngWriter, TheImagesColourSpaceGoesWithItAndARefusedProfileCostsOnlyItself) {
    for (const bool alpha : {false, true}) {
        for (const auto named : {QColorSpace::DisplayP3, QColorSpace::AdobeRgb, QColorSpace::SRgb}) {
            QImage image = gradient(40, 30, alpha);
            image.setColorSpace(named);
            const auto png = PngWriter::encode(image, 1);
            ASSERT_TRUE(png);
            const QImage back = QImage::fromData(*png, "png");
            EXPECT_EQ(back.colorSpace(), QColorSpace(named))
                << qPrintable(QColorSpace(named).description()) << " came back as "
                << qPrintable(back.colorSpace().description()) << ", alpha " << alpha;
            EXPECT_EQ(back.convertToFormat(image.format()), image) << "the pixels are not converted";
        }
    }
    // Names the chunk cannot carry as they are: none, and one in Chinese with doubled spaces.
    for (const QString& description : {QString(), QStringLiteral("广色域  伽马 2.2")}) {
        QColorSpace custom(QColorSpace::Primaries::DciP3D65, 2.2f);
        custom.setDescription(description);
        QImage image = gradient(8, 8, false);
        image.setColorSpace(custom);
        const auto png = PngWriter::encode(image, 1);
        ASSERT_TRUE(png);
        EXPECT_EQ(QImage::fromData(*png, "png").colorSpace(), custom) << qPrintable(description);
    }
    const auto plain = PngWriter::encode(gradient(8, 8, false), 1);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(QImage::fromData(*plain, "png").colorSpace().isValid()) << "none is made up";

    // A rendering intent out of range: Qt takes the profile, libpng refuses it. The picture still
    // comes, without a profile and without a word.
    QByteArray odd = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    odd[67] = 9;
    const QColorSpace oddSpace = QColorSpace::fromIccProfile(odd);
    ASSERT_TRUE(oddSpace.isValid());
    QImage image = gradient(40, 30, false);
    image.setColorSpace(oddSpace);
    std::optional<QByteArray> png;
    EXPECT_EQ(stderrOf([&] { png = PngWriter::encode(image, 1); }), "");
    ASSERT_TRUE(png) << "the profile took the picture with it";
    const QImage back = QImage::fromData(*png, "png");
    EXPECT_FALSE(back.colorSpace().isValid());
    image.setColorSpace(QColorSpace());
    EXPECT_EQ(back.convertToFormat(image.format()), image) << "the same pixels";
}
