#include "DropTestHelpers.h"
#include "platform/JpegDecoder.h"
#include "support/TestImages.h"

#include <QFile>
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
