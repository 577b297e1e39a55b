#pragma once

#include "core/Photo.h"

#include <QWidget>

#include <functional>

namespace vennimo {

class GalleryModel;
class GalleryWindow;

// What the root view asks for the screens that live in their own libraries: the grid screen of
// the gallery window and the preview panel.
struct GalleryScreenFactory {
    struct GridInputs {
        GalleryModel* model = nullptr;
        GalleryWindow* window = nullptr;
        std::function<void()> openSettings;
        std::function<void()> switchToClothesline;
        // Opens the preview panel on a photo; `closed` runs once when it closes.
        std::function<void(const Photo& photo, std::function<void()> closed)> preview;
    };
    // Makes the grid screen as a child of the parent.
    std::function<QWidget*(const GridInputs& inputs, QWidget* parent)> grid;
    // Opens the preview panel on a photo; `closed` runs once when it closes.
    std::function<void(GalleryModel& model, const Photo& photo, QWidget* window,
                       std::function<void()> closed)>
        preview;

    // The grid screen and the preview panel themselves.
    static GalleryScreenFactory screens();
};

} // namespace vennimo
