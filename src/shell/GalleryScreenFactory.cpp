#include "shell/GalleryScreenFactory.h"

#include "preview/PhotoPreviewOpener.h"
#include "shell/GridStandIn.h"

namespace vennimo {

GalleryScreenFactory GalleryScreenFactory::standIns() {
    GalleryScreenFactory factory;
    factory.grid = [](const GridInputs& inputs, QWidget* parent) -> QWidget* {
        return new GridStandIn(inputs, parent);
    };
    factory.preview = &PhotoPreviewOpener::open;
    return factory;
}

} // namespace vennimo
