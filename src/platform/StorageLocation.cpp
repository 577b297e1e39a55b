#include "platform/StorageLocation.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>

namespace vennimo {

QString StorageLocation::path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/VennimoGallery");
}

Result<QString> StorageLocation::ensure() {
    const QString folder = path();
    if (!QDir().mkpath(folder))
        return Error::fromErrno(errno != 0 ? errno : EACCES, folder);
    return folder;
}

} // namespace vennimo
