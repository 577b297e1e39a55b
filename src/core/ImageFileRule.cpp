#include "core/ImageFileRule.h"

#include <QHash>
#include <QMimeDatabase>
#include <QMutex>
#include <QSet>

namespace vennimo {

namespace {

const QSet<QString>& knownExtensions() {
    static const QSet<QString> extensions{
        QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),  QStringLiteral("heic"),
        QStringLiteral("heif"), QStringLiteral("gif"),  QStringLiteral("webp"), QStringLiteral("tif"),
        QStringLiteral("tiff"), QStringLiteral("bmp"),  QStringLiteral("avif"), QStringLiteral("svg"),
        QStringLiteral("dng"),  QStringLiteral("cr2"),  QStringLiteral("cr3"),  QStringLiteral("nef"),
        QStringLiteral("arw"),  QStringLiteral("raf"),  QStringLiteral("orf"),  QStringLiteral("rw2"),
        QStringLiteral("psd"),  QStringLiteral("ico"),  QStringLiteral("exr"),  QStringLiteral("jxl")};
    return extensions;
}

bool mimeTypeIsImage(const QString& extension) {
    // Scans meet the same few extensions over and over; the MIME lookup is not free.
    static QMutex mutex;
    static QHash<QString, bool> cache;
    QMutexLocker lock(&mutex);
    if (auto it = cache.constFind(extension); it != cache.constEnd())
        return *it;
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    // "Inherits image/*": the type itself or any ancestor is in the image/ tree.
    bool result = false;
    if (type.isValid() && !type.isDefault()) {
        result = type.name().startsWith(QLatin1String("image/"));
        for (const QString& ancestor : type.allAncestors())
            result = result || ancestor.startsWith(QLatin1String("image/"));
    }
    cache.insert(extension, result);
    return result;
}

} // namespace

bool isImageFileName(const QString& pathOrName) {
    const qsizetype slash = pathOrName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = pathOrName.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1 || dot == pathOrName.size() - 1)
        return false;
    const QString extension = pathOrName.mid(dot + 1).toLower();
    return knownExtensions().contains(extension) || mimeTypeIsImage(extension);
}

} // namespace vennimo
