#include "DropTestHelpers.h"
#include "platform/ImageDecoder.h"
#include "platform/JpegDecoder.h"
#include "support/TestImages.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

std::optional<qint64> statusKiB(const char* field) {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return std::nullopt;
}

// The most this process held from now on is read with VmHWM: written 5, clear_refs starts it afresh
// at what it holds now.
bool resetPeak() {
    QFile refs(u"/proc/self/clear_refs"_s);
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

TEST(DropWorkingBudget, PhotosThatKeepMuchWhileCheckedAreCheckedWithinTheBudgetAsBytesAndAsFiles) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps what each check freed in its quarantine";
#endif
    // Progressive photos in full colour, each keeping six tenths of the working budget in
    // coefficients while it is checked, whatever size it is checked at: dropped together, no two
    // are checked at once.
    constexpr qint64 kBudget = JpegDecoder::kCoefficientShareBytes;
    constexpr int kWidth = 8000;
    // Two bytes a coefficient, three components at full resolution.
    const int height = int(kBudget * 6 / 10 / (kWidth * 2 * 3)) / 8 * 8;
    Items bytesItems, fileItems;
    const QString folder = makeFolder(u"photos"_s);
    for (int i = 0; i < 4; ++i) {
        // Distinct bytes, so that none is saved as another's copy.
        const QByteArray jpeg = manyScanJpeg(kWidth, height, 2 + i, 0, 3);
        bytesItems.append({Source::fromBytes(jpeg)});
        fileItems.append({Source::file(written(folder + u"/photo%1.jpg"_s.arg(i), jpeg), true)});
    }
    for (const bool files : {false, true}) {
        SCOPED_TRACE(files ? "files" : "bytes");
        ASSERT_TRUE(resetPeak());
        const std::optional<qint64> before = statusKiB("VmRSS:");
        const auto result = materializeOffMain({.items = files ? fileItems : bytesItems});
        const std::optional<qint64> peak = statusKiB("VmHWM:");
        EXPECT_EQ(result.paths.size(), 4) << result.detail.value_or(QString()).toStdString();
        ASSERT_TRUE(before && peak);
        EXPECT_LT((*peak - *before) * 1024, kBudget * 11 / 10)
            << "checks held " << (*peak - *before) / 1024 << " MiB at once";
    }
}

// A HEIC is decoded whole whatever size it is drawn at: its check draws it at thumbnail size and
// the drop keeps that picture, so that the import never decodes it again.
TEST(DropWorkingBudget, AHeicKeepsThePictureItsCheckDrew) {
    const QString tool = QStandardPaths::findExecutable(u"heif-enc"_s);
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    const QString folder = makeFolder(u"heics"_s);
    const QString source = written(folder + u"/source.jpg"_s, jpegOf(makeImage(1600, 1200)));
    QProcess encoder;
    encoder.start(tool, {u"-q"_s, u"60"_s, u"-o"_s, folder + u"/photo.heic"_s, source});
    ASSERT_TRUE(encoder.waitForFinished(120000) && encoder.exitCode() == 0) << "heif-enc failed";
    const QString heic = folder + u"/photo.heic"_s;
    ASSERT_GT(ImageDecoder::workingBytesOf(heic), 0);
    QFile file(heic);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();

    for (const bool copied : {false, true}) {
        SCOPED_TRACE(copied ? "a copied file" : "bytes");
        const Items items{{copied ? Source::file(heic, true) : Source::fromBytes(bytes)}};
        const auto result = materializeOffMain({.items = items}, {.thumbnailPixels = 720});
        ASSERT_EQ(result.paths.size(), 1) << result.detail.value_or(QString()).toStdString();
        const QImage kept = result.thumbnails.value(result.paths[0]);
        EXPECT_EQ(kept.size(), QSize(720, 540)) << "the checked picture was not kept";
        EXPECT_EQ(kept, ImageDecoder::decodeScaled(result.paths[0], 720).valueOr({}))
            << "not the picture the index would draw from the saved file";
    }
}
