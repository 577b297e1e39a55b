#include "widgets/AlertPresenters.h"

#include "model/GalleryModel.h"
#include "widgets/PhotosAccessAlert.h"
#include "widgets/TrashConfirmation.h"
#include "widgets/TrashFailureAlert.h"
#include "widgets/UnsavedStateAlert.h"

namespace vennimo {

void installAlertPresenters(GalleryModel& model, std::function<QWidget*()> parent) {
    const auto window = [parent] { return parent ? parent() : nullptr; };
    model.setRequestTrashConfirmation(
        [window](const QList<Photo>& photos) { return TrashConfirmation::run(photos, window()); });
    model.setExplainPhotosAccessDenied([window] { PhotosAccessAlert::run(window()); });
    model.setTrashFailureAlert([window](const QString& message, const QString& informative) {
        TrashFailureAlert::run(message, informative, window());
    });
    model.setDeferredStateAlert(
        [window](const Error& error) { return UnsavedStateAlert::run(error, window()); });
}

} // namespace vennimo
