#include "core/PhotoIdentity.h"
#include "model/GalleryModel.h"
#include "platform/X11RequestedWindow.h"

#include <QPointer>

namespace vennimo {

namespace {

constexpr auto kPropertiesFailedPrefix = "无法打开系统属性：";
constexpr int kPropertiesQueueWidth = 2;

} // namespace

void GalleryModel::showProperties(const std::optional<QList<Photo>>& photos) {
    if (m_deleting)
        return;
    const QList<Photo> chosen = photos ? *photos : selectedPhotos();
    if (chosen.isEmpty())
        return;
    acknowledge(chosen);
    if (!m_propertiesQueue)
        m_propertiesQueue =
            std::make_unique<WorkQueue>(QStringLiteral("local.vennimo.properties"), kPropertiesQueueWidth);
    const QPointer<GalleryModel> self(this);
    // The file manager's windows are ones the user asked for: they come up in front of ours.
    const QString startupId = X11RequestedWindow::expect();
    m_propertiesQueue->async([self, chosen, startupId, show = m_showItemProperties] {
        Status status;
        QStringList paths;
        for (const Photo& photo : chosen) {
            status = validateOriginalIdentity(photo);
            if (!status)
                break;
            paths.append(photo.path);
        }
        if (status)
            status = show ? show(paths, startupId) : Status(Error::failure(QString()));
        const std::optional<QString> error =
            status ? std::nullopt
                   : std::optional<QString>(QString::fromUtf8(kPropertiesFailedPrefix) +
                                            status.error().localizedDescription());
        postTo(self.data(), [self, error, startupId] {
            if (error)
                X11RequestedWindow::forget(startupId);
            self->publish(self->m_actionError, error, &GalleryModel::actionErrorChanged);
        });
    });
}

} // namespace vennimo
