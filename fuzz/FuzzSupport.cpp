#include "FuzzSupport.h"

#include "platform/PngDecoder.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

namespace vennimo::fuzz {

namespace {
QString g_storage;
// About 0.1 s each, a fifth of the half second an input may take.
constexpr qint64 kMaxPngRows = 250'000;
constexpr qint64 kMaxPngPixels = 1'500'000;
} // namespace

void initialize() {
    static bool done = false;
    if (done)
        return;
    done = true;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/vennimo-fuzz-XXXXXX"));
    g_storage = folder.path();
}

const QString& storage() {
    return g_storage;
}

bool withinCostBound(const QByteArray& picture) {
    const auto size = PngDecoder::storedSize(picture);
    return !size ||
           (size->height() <= kMaxPngRows && qint64(size->width()) * size->height() <= kMaxPngPixels);
}

} // namespace vennimo::fuzz
