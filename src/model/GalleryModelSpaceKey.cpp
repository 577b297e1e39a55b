#include "model/GalleryModel.h"

#include <QPointer>

namespace vennimo {

namespace {

constexpr auto kMissingApplication = "找不到空格键设置的应用，请在设置 › 快捷键中重新选择。";
constexpr auto kCannotOpenPrefix = "无法用 ";
constexpr auto kCannotOpenInfix = " 打开：";

} // namespace

void GalleryModel::openWithSpaceKeyApp(const QList<Photo>& photos, const SpaceKeyOpener& opener) {
    if (photos.isEmpty() || opener.kind == SpaceKeyOpener::Kind::preview)
        return;
    const SpaceKeyLaunchSeams& seams = m_spaceKeyLaunch;
    if (opener.kind == SpaceKeyOpener::Kind::defaultApp) {
        // A file the desktop cannot open is passed over; the others still open.
        for (const Photo& photo : photos) {
            if (seams.openWithDefault && seams.openWithDefault(photo.path) && !m_exhibitionBlocked)
                markExported(photo);
        }
        return;
    }
    if (!seams.applicationExists || !seams.applicationExists(opener.path)) {
        publish(m_actionError, std::optional<QString>(QString::fromUtf8(kMissingApplication)),
                &GalleryModel::actionErrorChanged);
        return;
    }
    QStringList files;
    for (const Photo& photo : photos)
        files.append(photo.path);
    QString name = seams.displayName ? seams.displayName(opener.path) : opener.path;
    name.remove(QStringLiteral(".app"));
    QPointer<GalleryModel> self(this);
    seams.openWithApplication(opener.path, files, [self, photos, name](std::optional<Error> error) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, photos, name, error] {
                if (!self)
                    return;
                if (error) {
                    const QString text = QString::fromUtf8(kCannotOpenPrefix) + name +
                                         QString::fromUtf8(kCannotOpenInfix) + error->localizedDescription();
                    self->publish(self->m_actionError, std::optional<QString>(text),
                                  &GalleryModel::actionErrorChanged);
                    return;
                }
                for (const Photo& photo : photos) {
                    if (!self->m_exhibitionBlocked)
                        self->markExported(photo);
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace vennimo
