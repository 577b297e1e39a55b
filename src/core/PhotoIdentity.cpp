#include "core/PhotoIdentity.h"

#include "platform/FileIdentity.h"
#include "platform/VolumeUuid.h"

namespace vennimo {

Result<CurrentIdentity> currentIdentity(const QString& path) {
    auto file = FileIdentity::read(path);
    if (!file)
        return file.error();
    CurrentIdentity identity;
    identity.id = file->idString();
    const auto uuid = VolumeUuid::forPath(path);
    identity.usageID = uuid ? *uuid + QLatin1Char('-') + QString::number(file->fileNumber) : identity.id;
    identity.created = file->created;
    identity.isRegularFile = file->isRegularFile();
    return identity;
}

Error replacedOriginalError() {
    return Error::make(QString::fromLatin1(kTrashErrorDomain), kReplacedOriginalCode,
                       QStringLiteral("原图已移动或被替换，请刷新后重新选择。"));
}

Status validateOriginalIdentity(const Photo& photo) {
    auto current = currentIdentity(photo.path);
    if (!current)
        return current.error();
    if (!current->isRegularFile)
        return replacedOriginalError();
    const bool sameIdentity = photo.usageID ? *photo.usageID == current->usageID : photo.id == current->id;
    if (!sameIdentity || !sameFileBirth(photo.created, current->created))
        return replacedOriginalError();
    return {};
}

bool originalIdentityMatches(const Photo& photo) {
    return validateOriginalIdentity(photo).ok();
}

} // namespace vennimo
