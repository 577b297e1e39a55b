#pragma once

#include "core/Photo.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;

namespace vennimo {

class GalleryModel;
class GalleryWindow;
class UserDefaults;

// Puts a screen's key handler into the gallery window while the model's mode is the screen's:
// the rope's keys act on the hanging prints in rope order, the grid's on the photos it shows.
// The space bar's opener is read from the defaults at every press.
class GalleryKeyboardBridge : public QObject {
    Q_OBJECT

public:
    GalleryKeyboardBridge(GalleryModel& model, GalleryWindow* window, bool rope,
                          std::function<QList<Photo>()> photos, std::function<void(const Photo&)> preview,
                          QObject* parent = nullptr);

    void setDefaults(UserDefaults* defaults) { m_defaults = defaults; }
    bool isActive() const;
    // Installs the handler in the window when active.
    void update();
    bool handle(QKeyEvent* event);

private:
    QPointer<GalleryModel> m_model;
    QPointer<GalleryWindow> m_window;
    bool m_rope;
    std::function<QList<Photo>()> m_photos;
    std::function<void(const Photo&)> m_preview;
    UserDefaults* m_defaults;
};

} // namespace vennimo
