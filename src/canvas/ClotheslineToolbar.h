#pragma once

#include "core/Photo.h"
#include "widgets/ClotheslineToolbarLayout.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;

namespace vennimo {

class GalleryModel;
class HoverHint;
class ToolbarButton;
class ToolbarIcon;
class WindowMoveArea;

// The capsule that floats over the rope while prints are selected: it names the rope and counts
// its prints, moves and closes the window, and carries the actions on the selection, the last
// rope action's undo and the switches to the grid and the settings. It keeps no state of its
// own: every model change brings each control's presence, enabled state and text up to date.
class ClotheslineToolbar : public QWidget {
    Q_OBJECT

public:
    static constexpr double kCapsuleStrokeOpacity = 0.6;
    static constexpr double kShadowOpacity = 0.16;
    static constexpr double kShadowRadius = 10;
    static constexpr double kShadowOffset = 4;
    // Above the bar; below it the capsule's shadow still draws.
    static constexpr int kTopPadding = 8;
    static constexpr int kShadowRoom = 14;
    static constexpr auto kSelectionToggleName = "clothesline-selection-toggle";

    struct Actions {
        std::function<QList<Photo>()> hanging;
        std::function<void(const Photo&)> preview;
        std::function<void()> switchToNormal;
        std::function<void()> openSettings;
        std::function<void()> closeWindow;
        // Gives the keyboard back to the window's content, so the gallery keys reach it.
        std::function<void()> focusContent;
    };

    ClotheslineToolbar(GalleryModel& model, Actions actions, QWidget* parent = nullptr);

    void setMover(std::function<bool(QPointF)> mover);
    // Brings every control up to date with the model now.
    void refresh();

    // What the toolbar computed at its last refresh.
    struct State {
        int hanging = 0;
        int selected = 0;
        bool allSelected = false;
        bool selectAllApplies = false;
        bool busy = false;
        bool locked = false;
        bool operator==(const State&) const = default;
    };
    const State& state() const { return m_state; }

    // The controls, for the screen's hit region and for tests.
    QWidget* capsule() const { return m_capsule; }
    ClotheslineToolbarLayout* toolbarLayout() const { return m_layout; }
    ToolbarButton* collapseButton() const { return m_collapse; }
    QLabel* countLabel() const { return m_count; }
    WindowMoveArea* moveArea() const { return m_moveArea; }
    QWidget* selectionGroup() const { return m_selectionGroup; }
    ToolbarButton* cancelButton() const { return m_cancel; }
    QLabel* selectionCount() const { return m_selectionCount; }
    ToolbarIcon* viewButton() const { return m_view; }
    ToolbarIcon* copyButton() const { return m_copy; }
    ToolbarIcon* undoButton() const { return m_undo; }
    ToolbarButton* selectionToggle() const { return m_toggle; }
    HoverHint* selectionToggleHint() const { return m_toggleHint; }
    QWidget* actionsGroup() const { return m_actionsGroup; }
    ToolbarIcon* takeDownButton() const { return m_takeDown; }
    ToolbarIcon* deleteButton() const { return m_delete; }
    ToolbarIcon* propertiesButton() const { return m_properties; }
    ToolbarButton* normalWindowButton() const { return m_normalWindow; }
    ToolbarIcon* settingsButton() const { return m_settings; }

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildTitleGroup();
    QWidget* buildSelectionGroup();
    QWidget* buildActionsGroup();
    QWidget* buildWindowGroup();
    void scheduleRefresh();
    void fitTitleArea();

    QPointer<GalleryModel> m_model;
    Actions m_actions;
    State m_state;
    bool m_refreshScheduled = false;
    // What the spring follows: a selection at all, an undo at all, and its size.
    bool m_hadSelection = false;
    bool m_hadUndo = false;
    int m_lastSelected = -1;

    ClotheslineToolbarLayout* m_layout = nullptr;
    QWidget* m_capsule = nullptr;
    ToolbarButton* m_collapse = nullptr;
    WindowMoveArea* m_moveArea = nullptr;
    QWidget* m_titleGroup = nullptr;
    QLabel* m_count = nullptr;
    QWidget* m_selectionGroup = nullptr;
    ToolbarButton* m_cancel = nullptr;
    QLabel* m_selectionCount = nullptr;
    ToolbarIcon* m_view = nullptr;
    ToolbarIcon* m_copy = nullptr;
    ToolbarIcon* m_undo = nullptr;
    ToolbarButton* m_toggle = nullptr;
    HoverHint* m_toggleHint = nullptr;
    QWidget* m_actionsGroup = nullptr;
    ToolbarIcon* m_takeDown = nullptr;
    ToolbarIcon* m_delete = nullptr;
    ToolbarIcon* m_properties = nullptr;
    ToolbarButton* m_normalWindow = nullptr;
    ToolbarIcon* m_settings = nullptr;
};

} // namespace vennimo
