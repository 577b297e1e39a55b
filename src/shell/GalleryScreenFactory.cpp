#include "shell/GalleryScreenFactory.h"

#include "shell/GridStandIn.h"
#include "shell/PreviewStandIn.h"

namespace vennimo {

GalleryScreenFactory GalleryScreenFactory::standIns() {
    GalleryScreenFactory factory;
    factory.grid = [](const GridInputs& inputs, QWidget* parent) -> QWidget* {
        return new GridStandIn(inputs, parent);
    };
    factory.preview = [](GalleryModel&, const Photo& photo, QWidget* window, std::function<void()> closed) {
        PreviewStandIn::open(photo, window, std::move(closed));
    };
    return factory;
}

} // namespace vennimo
