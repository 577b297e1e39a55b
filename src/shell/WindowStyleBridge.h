#pragma once

#include <QObject>
#include <QPointer>

namespace vennimo {

class ClotheslineChrome;
class GalleryWindow;

// Tells the gallery window the style the root view shows and asks the rope chrome for its
// shape. The chrome is asked on the next event-loop turn, with the values of that moment, so it
// never changes the window's geometry inside a paint or a layout pass.
class WindowStyleBridge : public QObject {
    Q_OBJECT

public:
    struct Values {
        bool clothesline = true;
        bool hasPhotos = true;
        bool expanded = true;
        bool reduceMotion = false;
        bool operator==(const Values&) const = default;
    };

    WindowStyleBridge(GalleryWindow* window, ClotheslineChrome& chrome, QObject* parent = nullptr);

    void apply(const Values& values);
    const Values& values() const { return m_values; }
    bool requestPending() const { return m_requestPending; }

private:
    QPointer<GalleryWindow> m_window;
    QPointer<ClotheslineChrome> m_chrome;
    Values m_values;
    bool m_requestPending = false;
};

} // namespace vennimo
