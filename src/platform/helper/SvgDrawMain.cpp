// Reads one SVG and draws it for the process that started this one (ImageDecoder, through
// BoundedChildProcess), which bounds its time and memory and reads the answer:
//   vennimo-svg-draw FILE LONGEST_SIDE        the size and the picture, its longer side at most
//                                             LONGEST_SIDE (<= 0: full size)
//   vennimo-svg-draw FILE LONGEST_SIDE size   the size alone
// A process of its own, started afresh, because Qt's drawing hands large pictures to a thread pool
// that a forked copy of a running application has no threads for.
// Once its document is read, the kernel refuses the helper every open but of a font: whatever the
// plugin finds in a document to follow, whatever the filter missed, reaches nothing.
#include "FileLockdown.h"
#include "SvgOwnBytes.h"
#include "platform/BoundedChildProcess.h"
#include "platform/ImageDecoderShared.h"

#include <QBuffer>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>

#include <fontconfig/fontconfig.h>

using namespace vennimo;

namespace {

// The most a document may take: what the process that started this one lets it hold.
constexpr qint64 kMaxDocumentBytes = qint64(256) << 20;

// What the plugin would load as it reads and draws, loaded while it still can be: every image
// plugin (a picture embedded in the document is read by whichever knows it) and fontconfig's
// settings and caches. Returns the folders of the font files, which text opens by name as it is
// drawn.
QStringList loadBeforeLockdown() {
    QByteArray unknown(16, '\0');
    QBuffer probe(&unknown);
    probe.open(QIODevice::ReadOnly);
    QImageReader::imageFormat(&probe);
    QFontDatabase::families();
    QStringList folders;
    if (FcStrList* list = FcConfigGetFontDirs(nullptr)) {
        while (const FcChar8* folder = FcStrListNext(list))
            folders.append(QFile::decodeName(reinterpret_cast<const char*>(folder)));
        FcStrListDone(list);
    }
    return folders;
}

// Where the fonts cannot stay readable, text draws in the fonts open by then: the default one.
void openDefaultFont() {
    QImage scratch(16, 16, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    painter.drawText(0, 12, QStringLiteral("x"));
}

qint32 read(const QString& path, int longestSide, bool draw, FileLockdown& lockdown,
            BoundedChildAnswer& answer) {
    // Handed over as bytes, so that the plugin knows no folder to resolve a link against.
    const std::optional<QByteArray> document = SvgOwnBytes::read(path, kMaxDocumentBytes);
    lockdown.apply();
    if (!document)
        return kImageUnreadableCode;
    QByteArray own = SvgOwnBytes::withoutOutsideReferences(*document);
    QBuffer buffer(&own);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!image_decoding::isSvgFormat(reader.format()))
        return kImageUnreadableCode;
    // The size the plugin draws at when asked for none, the cap checked.
    answer.size = reader.size();
    if (auto error = image_decoding::checkSize(answer.size))
        return error->code;
    if (!draw)
        return 0;
    const QSize target = ImageDecoder::boundedSize(answer.size, longestSide);
    reader.setScaledSize(target);
    QImage image;
    if (!reader.read(&image) || image.size() != target)
        return kImageUnreadableCode;
    answer.image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return answer.image.isNull() ? kImageUnreadableCode : 0;
}

} // namespace

int main(int argc, char** argv) {
    // Drawn into memory: no display, and fonts from fontconfig.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Qt's own default is below a picture at the pixel cap; the parent bounds the memory.
    QImageReader::setAllocationLimit(int((ImageDecoder::kMaxPixels * 4 >> 20) + 1));
    const QStringList arguments = app.arguments();
    BoundedChildAnswer answer;
    answer.code = kImageUnreadableCode;
    if (arguments.size() == 3 || (arguments.size() == 4 && arguments[3] == QLatin1String("size"))) {
        FileLockdown lockdown(loadBeforeLockdown());
        if (!lockdown.keepsFontsReadable())
            openDefaultFont();
        answer.code = read(arguments[1], arguments[2].toInt(), arguments.size() == 3, lockdown, answer);
    }
    return BoundedChildProcess::sendAnswer(answer) ? 0 : 1;
}
