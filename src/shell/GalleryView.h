#pragma once

#include "shell/GalleryScreenFactory.h"
#include "shell/WindowStyleBridge.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace vennimo {

class ClotheslineView;
class GalleryKeyboardBridge;
class GalleryModel;
class GalleryWindow;
class RopeWindowBridge;

// The gallery window's content: the rope screen in rope mode and the grid screen otherwise, each
// made afresh when the mode changes. It tells the window its style and the chrome its shape,
// hands the rope screen's hit rectangles to the window, and answers select all, copy and Escape.
class GalleryView : public QWidget {
    Q_OBJECT

public:
    GalleryView(GalleryModel& model, GalleryWindow& window, std::function<void()> openSettings,
                GalleryScreenFactory factory = GalleryScreenFactory::screens());
    ~GalleryView() override;

    // Lets the rope screen's canvas go of the window; call before the window goes.
    void dismantle();

    ClotheslineView* ropeScreen() const;
    QWidget* gridScreen() const { return m_grid; }
    WindowStyleBridge& styleBridge() { return *m_style; }
    RopeWindowBridge& ropeBridge() { return *m_ropeBridge; }

    // The edit commands: select all asks the shown screen through the model's request counter,
    // copy copies a selection, and cancel ends it.
    void selectAll();
    void copy();
    void cancelOperation();
    // Whether any photo hangs on the rope.
    bool hasPhotos() const;
    // Applies the window style and asks the chrome now.
    void applyWindowStyle();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void scheduleStyle();

private:
    void showScreen();
    void switchMode();

    QPointer<GalleryModel> m_model;
    QPointer<GalleryWindow> m_window;
    std::function<void()> m_openSettings;
    GalleryScreenFactory m_factory;
    WindowStyleBridge* m_style = nullptr;
    RopeWindowBridge* m_ropeBridge = nullptr;
    QPointer<ClotheslineView> m_rope;
    QPointer<QWidget> m_grid;
    GalleryKeyboardBridge* m_ropeKeyboard = nullptr;
    std::optional<bool> m_shownMode;
    bool m_styleScheduled = false;
    bool m_dismantled = false;
};

} // namespace vennimo
