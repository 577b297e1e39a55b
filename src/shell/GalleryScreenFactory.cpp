#include "shell/GalleryScreenFactory.h"

#include "grid/GalleryActionBar.h"
#include "grid/GallerySearchField.h"
#include "grid/NormalGalleryView.h"
#include "model/GalleryModel.h"
#include "preview/PhotoPreviewOpener.h"
#include "shell/GalleryKeyboardBridge.h"

#include <QPointer>

namespace vennimo {

namespace {

// The grid screen with the window's keys acting on the photos it shows, and its previewed photo
// opening the preview panel, which hands it back when it closes.
QWidget* makeGrid(const GalleryScreenFactory::GridInputs& inputs, QWidget* parent) {
    auto* view =
        new NormalGalleryView(*inputs.model, inputs.openSettings, inputs.switchToClothesline, parent);
    // Typing in a grid that just opened searches.
    view->actionBar()->searchField()->edit()->setFocus(Qt::OtherFocusReason);
    QPointer<NormalGalleryView> weak(view);
    new GalleryKeyboardBridge(
        *inputs.model, inputs.window, false, [weak] { return weak ? weak->filtered() : QList<Photo>(); },
        [weak](const Photo& photo) {
            if (weak)
                weak->preview(photo);
        },
        view);
    QObject::connect(view, &NormalGalleryView::previewPhotoChanged, view, [weak, open = inputs.preview] {
        if (!weak || !weak->previewPhoto() || !open)
            return;
        const QString id = weak->previewPhoto()->id;
        open(*weak->previewPhoto(), [weak, id] {
            if (weak && weak->previewPhoto() && weak->previewPhoto()->id == id)
                weak->setPreviewPhoto(std::nullopt);
        });
    });
    return view;
}

} // namespace

GalleryScreenFactory GalleryScreenFactory::screens() {
    GalleryScreenFactory factory;
    factory.grid = [](const GridInputs& inputs, QWidget* parent) -> QWidget* {
        return inputs.model ? makeGrid(inputs, parent) : nullptr;
    };
    factory.preview = &PhotoPreviewOpener::open;
    return factory;
}

} // namespace vennimo
