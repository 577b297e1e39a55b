#pragma once

#include <functional>

class QWidget;

namespace vennimo {

class GalleryModel;

// Installs the model's alerts: the trash confirmation, the Photos access explanation, the
// warning after a partly failed delete and the question when state could not be saved at quit. `parent`
// answers the window the alerts belong to (it may answer nothing). The shell calls this once at start-up.
void installAlertPresenters(GalleryModel& model, std::function<QWidget*()> parent = {});

} // namespace vennimo
