#include "rendering/PhotoSizeFile.h"

#include "core/DeferredStateWriter.h"
#include "platform/DurableCalls.h"
#include "platform/FileIdentity.h"
#include "platform/ImageDecoder.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

namespace vennimo {

namespace {

constexpr auto kSizesField = "sizes";
constexpr auto kKeptName = "picture-sizes.json.corrupt";
// Entries taken in or written between two questions whether to stop.
constexpr int kEntriesBetweenStops = 1024;

QString filePath(const QString& folder) {
    return QDir(folder).filePath(QLatin1String(PhotoSizeFile::kFileName));
}

QString keptPath(const QString& folder) {
    return QDir(folder).filePath(QLatin1String(kKeptName));
}

bool integral(double side) {
    return side >= 1 && side <= PhotoSizeFile::kMaxSide && side == double(int(side));
}

bool stopped(const PhotoSizeFile::Stop& stop) {
    return stop && stop();
}

// What cannot be read as a state file is not opened again: a FIFO or a device could hold a read
// for good. It is kept as it stands under the kept copy's name, out of the way of the next save.
void setAside(const QString& folder, const Error& error) {
    qCWarning(lcApp).nospace() << PhotoSizeFile::kFileName << " is not a regular file of at most "
                               << PhotoSizeFile::kMaxFileBytes << " bytes (" << std::strerror(error.sysErrno)
                               << ") - not read, kept as " << kKeptName;
    const QByteArray from = QFile::encodeName(filePath(folder));
    const QByteArray to = QFile::encodeName(keptPath(folder));
    if (DurableCalls::current().rename(from.constData(), to.constData()) != 0)
        qCWarning(lcApp) << PhotoSizeFile::kFileName << "could not be set aside:" << std::strerror(errno);
}

} // namespace

bool PhotoSizeFile::plausible(QSize size) {
    return size.width() >= 1 && size.height() >= 1 && size.width() <= kMaxSide && size.height() <= kMaxSide &&
           qint64(size.width()) * size.height() <= ImageDecoder::kMaxPixels;
}

QList<PhotoSizeFile::Entry> PhotoSizeFile::load(const QString& folder, const Stop& stop) {
    auto bytes = DeferredStateWriter::readStateFile(filePath(folder), kMaxFileBytes);
    if (!bytes) {
        if (bytes.error().sysErrno != ENOENT)
            setAside(folder, bytes.error());
        return {};
    }
    if (stopped(stop))
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    const QJsonValue sizes =
        document.isObject() ? document.object().value(QLatin1String(kSizesField)) : QJsonValue();
    if (error.error != QJsonParseError::NoError || !sizes.isArray()) {
        // Only a cache, rebuilt as pictures are read again; the bytes are kept for inspection
        // rather than lost to the next save.
        qCWarning(lcApp) << kFileName << "does not decode - kept as" << kKeptName;
        if (!JsonFile::writeAtomically(keptPath(folder), *bytes))
            qCWarning(lcApp) << kKeptName << "could not be written";
        return {};
    }
    QList<Entry> entries;
    int seen = 0;
    for (const QJsonValue& value : sizes.toArray()) {
        if (entries.size() >= kMaxEntries || (++seen % kEntriesBetweenStops == 0 && stopped(stop)))
            break;
        const QJsonArray entry = value.toArray();
        if (entry.size() != 3 || !entry[0].isString() || !entry[1].isDouble() || !entry[2].isDouble())
            continue;
        const double width = entry[1].toDouble();
        const double height = entry[2].toDouble();
        if (entry[0].toString().isEmpty() || !integral(width) || !integral(height))
            continue;
        // A size no decoder gives would hang its print in a shape its picture never fills.
        const QSize size{int(width), int(height)};
        if (plausible(size))
            entries.append({entry[0].toString(), size});
    }
    return stopped(stop) ? QList<Entry>() : entries;
}

bool PhotoSizeFile::save(const QString& folder, const QList<Entry>& entries, const Stop& stop) {
    // A FIFO or a device under the name was set aside when it was found; one that came since is
    // not replaced either.
    const QString path = filePath(folder);
    const auto existing = FileIdentity::readFollowingLinks(path);
    if (existing ? !existing->isRegularFile() : existing.error().sysErrno != ENOENT)
        return false;
    QJsonArray sizes;
    for (const auto& [key, size] : entries) {
        if (sizes.size() >= kMaxEntries || (sizes.size() % kEntriesBetweenStops == 0 && stopped(stop)))
            break;
        sizes.append(QJsonArray{key, size.width(), size.height()});
    }
    if (stopped(stop))
        return false;
    const QByteArray bytes = JsonFile::encode(QJsonObject{{QLatin1String(kSizesField), sizes}});
    return !stopped(stop) && JsonFile::writeAtomically(path, bytes).ok();
}

} // namespace vennimo
