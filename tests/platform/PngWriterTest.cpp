#include "platform/PngWriter.h"

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
