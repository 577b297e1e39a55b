#pragma once

#include "platform/GalleryShortcut.h"
#include "platform/Result.h"

#include <QObject>

namespace vennimo {

inline constexpr auto kHotKeyErrorDomain = "Vennimo.HotKey";

// A system-wide key combination held exclusively by this application. The X11 layer is the
// real one; tests give the controller a fake.
class GlobalHotKey : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts listening for hot-key events; false when the platform offers no global keys.
    virtual bool installHandler() = 0;
    virtual void removeHandler() = 0;
    virtual bool handlerInstalled() const = 0;
    // Takes the combination exclusively; fails when another program holds it, leaving nothing
    // of the attempt behind. Answers an id for unregisterKey and the signals.
    virtual Result<int> registerKey(const GalleryShortcut& shortcut) = 0;
    virtual void unregisterKey(int id) = 0;

Q_SIGNALS:
    // Key repeats arrive as further presses; the owner suppresses them.
    void pressed(int id);
    void released(int id);
};

} // namespace vennimo
