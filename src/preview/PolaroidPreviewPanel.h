#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QKeyEvent;

namespace vennimo {

class GalleryModel;

// The borderless window of the large preview. It hands keys to the presenter's handler unless a
// text field has the focus or a modal window runs, and routes undo and redo to the preview, or to
// the rope history when no preview handler is set; a focused text field keeps its own undo.
class PolaroidPreviewPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr auto kTitle = "照片大图";
    static constexpr auto kUndoTitle = "撤销";
    static constexpr auto kRedoTitle = "重做";

    // An undo or redo menu item's title and whether it is enabled.
    struct MenuState {
        QString title;
        bool enabled = false;
        bool operator==(const MenuState&) const = default;
    };

    explicit PolaroidPreviewPanel(QWidget* transientParent);

    void setHandleShortcut(std::function<bool(QKeyEvent*)> handler) { m_handleShortcut = std::move(handler); }
    void setHandleUndo(std::function<void()> handler) { m_handleUndo = std::move(handler); }
    void setHandleRedo(std::function<void()> handler) { m_handleRedo = std::move(handler); }
    void setGalleryModel(GalleryModel* model) { m_galleryModel = model; }
    // Tells the key filter which keys the handler takes ahead of application shortcuts.
    void setClaimsKey(std::function<bool(const QKeyEvent*)> claims) { m_claimsKey = std::move(claims); }

    void undo();
    void redo();
    MenuState undoState() const;
    MenuState redoState() const;

    // Whether keys go to the handler now: the panel is active, no modal window runs and the focus
    // is not in a text field.
    bool routesKeys() const;
    // True when the handler took the key.
    bool routeKey(QKeyEvent* event);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<bool(QKeyEvent*)> m_handleShortcut;
    std::function<void()> m_handleUndo;
    QPointer<GalleryModel> m_galleryModel;
    std::function<void()> m_handleRedo;
    std::function<bool(const QKeyEvent*)> m_claimsKey;
};

} // namespace vennimo
