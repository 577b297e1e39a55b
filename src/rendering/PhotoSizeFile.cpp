#include "rendering/PhotoSizeFile.h"

#include "platform/JsonFile.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vennimo {

namespace {

constexpr auto kSizesField = "sizes";

bool plausibleSide(double side) {
    return side >= 1 && side <= PhotoSizeFile::kMaxSide && side == double(int(side));
}

} // namespace

QList<PhotoSizeFile::Entry> PhotoSizeFile::load(const QString& folder) {
    QFile file(QDir(folder).filePath(QLatin1String(kFileName)));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return {};
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes)
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonValue sizes =
        document.isObject() ? document.object().value(QLatin1String(kSizesField)) : QJsonValue();
    if (error.error != QJsonParseError::NoError || !sizes.isArray()) {
        // Only a cache, rebuilt as pictures are read again; the bytes are kept for inspection
        // rather than lost to the next save.
        qCWarning(lcApp) << kFileName << "does not decode - kept as" << kFileName << ".corrupt";
        if (!JsonFile::writeAtomically(file.fileName() + QStringLiteral(".corrupt"), bytes))
            qCWarning(lcApp) << "the damaged picture sizes could not be kept";
        return {};
    }
    QList<Entry> entries;
    for (const QJsonValue& value : sizes.toArray()) {
        if (entries.size() >= kMaxEntries)
            break;
        const QJsonArray entry = value.toArray();
        if (entry.size() != 3 || !entry[0].isString() || !entry[1].isDouble() || !entry[2].isDouble())
            continue;
        const double width = entry[1].toDouble();
        const double height = entry[2].toDouble();
        if (entry[0].toString().isEmpty() || !plausibleSide(width) || !plausibleSide(height))
            continue;
        entries.append({entry[0].toString(), QSize(int(width), int(height))});
    }
    return entries;
}

bool PhotoSizeFile::save(const QString& folder, const QList<Entry>& entries) {
    QJsonArray sizes;
    for (const auto& [key, size] : entries) {
        if (sizes.size() >= kMaxEntries)
            break;
        sizes.append(QJsonArray{key, size.width(), size.height()});
    }
    return JsonFile::write(QDir(folder).filePath(QLatin1String(kFileName)),
                           QJsonObject{{QLatin1String(kSizesField), sizes}})
        .ok();
}

} // namespace vennimo
