#pragma once

#include <QKeyCombination>
#include <QString>

class QWidget;

namespace vennimo {

class GalleryModel;

// Where the edit menu's commands go: to the focused text field when one is edited, else to the
// active window's own history and selection (the preview panel's, the gallery window's rope or
// grid), and nowhere in any other window.
class EditMenuResponder {
public:
    enum class Command { undo, redo, cut, copy, paste, selectAll };
    struct State {
        QString title;
        bool enabled = false;
        bool operator==(const State&) const = default;
    };

    EditMenuResponder() = delete;

    static QString title(Command command);
    static QKeyCombination key(Command command);
    // What the command's item shows now for `window`, the active window when none is given.
    static State state(Command command, const GalleryModel* model, const QWidget* window = nullptr);
    // Carries the command out as its key would where the keyboard is in `window`, the active
    // window when none is given.
    static void perform(Command command, QWidget* window = nullptr);
};

} // namespace vennimo
