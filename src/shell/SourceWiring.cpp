#include "shell/SourceWiring.h"

#include "model/GalleryModel.h"
#include "shell/SourceStore.h"

#include <QPointer>

namespace vennimo {

void connectSourceStore(SourceStore& store, GalleryModel& model) {
    QPointer<GalleryModel> weakModel(&model);
    QPointer<SourceStore> weakStore(&store);
    store.setOnChange([weakModel](const QList<SourceRoot>& roots) {
        if (weakModel)
            weakModel->updateSources(roots);
    });
    model.setAuthorizeTrash([weakModel, weakStore](const QList<Photo>& photos) {
        if (!weakModel || !weakStore)
            return false;
        QList<Photo> outside;
        for (const Photo& photo : photos) {
            if (!weakModel->exhibition().contains(photo))
                outside.append(photo);
        }
        return weakStore->authorizeDeletion(outside);
    });
}

} // namespace vennimo
