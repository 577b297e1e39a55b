#pragma once

#include <QKeyCombination>
#include <QString>

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
    // What the command's item shows now.
    static State state(Command command, const GalleryModel* model);
    // Carries the command out as its key would where the keyboard is.
    static void perform(Command command);
};

} // namespace vennimo
