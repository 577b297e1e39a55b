#include "dragdrop/ExternalImageDrop.h"

#include "core/PhotoIdentity.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <unistd.h>

namespace vennimo {

namespace {

const QString kCopyPrefix = QStringLiteral("照片副本-");

} // namespace

vennimo::Result<QStringList> ExternalImageDrop::duplicate(const QList<Photo>& photos, const QString& storage,
                                                          const CopyHook& afterCopy,
                                                          LeftoverTemporaries::Record* record) {
    const QString folder = importFolder(storage);
    if (!QDir().mkpath(folder))
        return Error::fromErrno(errno ? errno : EIO, folder);
    QStringList partials;
    QStringList copies;
    auto fail = [&](const Error& error) -> vennimo::Result<QStringList> {
        for (const QString& path : partials + copies)
            ::unlink(QFile::encodeName(path).constData());
        return error;
    };
    for (int index = 0; index < photos.size(); ++index) {
        const Photo& photo = photos[index];
        if (Status valid = validateOriginalIdentity(photo); !valid.ok())
            return fail(valid.error());
        auto before = FileIdentity::read(photo.path);
        if (!before.ok())
            return fail(before.error());
        const QString stem = kCopyPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString partial = folder + QStringLiteral("/.") + stem + QStringLiteral(".partial");
        const QString suffix = QFileInfo(photo.path).suffix();
        const QString destination =
            folder + QLatin1Char('/') + stem + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
        if (QFileInfo::exists(destination) || QFileInfo::exists(partial) ||
            QFileInfo(destination).isSymLink() || QFileInfo(partial).isSymLink())
            return fail(Error::failure(QStringLiteral("副本文件名已存在，请重试。")));
        partials.append(partial);
        if (Status copied = FileMove::copyNoReplace(photo.path, partial); !copied.ok())
            return fail(copied.error().isFileExists()
                            ? Error::failure(QStringLiteral("副本文件名已存在，请重试。"))
                            : copied.error());
        if (afterCopy)
            afterCopy(index, partial);
        if (Status valid = validateOriginalIdentity(photo); !valid.ok())
            return fail(valid.error());
        auto after = FileIdentity::read(photo.path);
        if (!after.ok())
            return fail(after.error());
        auto copy = FileIdentity::read(partial);
        if (!copy.ok())
            return fail(copy.error());
        if (before->size != after->size || before->modified != after->modified || !copy->isRegularFile() ||
            copy->size != before->size)
            return fail(Error::failure(QStringLiteral("复制期间原图发生变化，请重新拖动。")));
        if (record) {
            if (Status recorded = record->add(destination); !recorded)
                return fail(recorded.error());
        }
        if (Status moved = FileMove::moveNoReplace(partial, destination); !moved.ok()) {
            if (record)
                record->drop(destination);
            return fail(moved.error());
        }
        partials.removeOne(partial);
        copies.append(destination);
    }
    return copies;
}

} // namespace vennimo
