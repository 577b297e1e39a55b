#pragma once

#include "core/Photo.h"

#include <functional>

class QWidget;

namespace vennimo {

class GalleryModel;
class PhotoPreviewPresenter;

// The entry of screens that open the preview on a photo over their window: one presenter lives
// per window, made on first use, and keeps its panel while the window lives. `closed` runs once
// when the preview that this call opened or went on with closes.
class PhotoPreviewOpener {
public:
    PhotoPreviewOpener() = delete;

    static void open(GalleryModel& model, const Photo& photo, QWidget* window, std::function<void()> closed);
    // The window's presenter, none before the first opening.
    static PhotoPreviewPresenter* presenter(const QWidget* window);
};

} // namespace vennimo
