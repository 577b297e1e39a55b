#pragma once

#include "core/Photo.h"
#include "model/SpaceKeyOpener.h"

#include <QList>

#include <functional>

class QKeyEvent;

namespace vennimo {

class GalleryModel;

// The gallery window's key commands, on the grid and on the rope. Control stands where the
// commands' Command key would; Caps Lock, Num Lock and the keypad flag never change a command;
// Backspace and the Delete key are both the delete key.
class GalleryKeyboard {
public:
    enum class Command {
        none,
        redo,
        undo,
        selectAll,
        copy,
        properties,
        trash,
        takeDown,
        space,
        left,
        right,
        extendLeft,
        extendRight,
    };
    using Preview = std::function<void(const Photo&)>;

    GalleryKeyboard() = delete;

    // The command a key claims where it was pressed, none when it is not the table's.
    static Command command(int key, Qt::KeyboardModifiers modifiers, bool rope);
    // Acts on a claimed key and answers true; a claimed key does nothing while the model deletes,
    // imports or is blocked. False for a key the table does not claim.
    static bool handle(int key, Qt::KeyboardModifiers modifiers, GalleryModel& model,
                       const QList<Photo>& photos, bool rope, const SpaceKeyOpener& opener,
                       const Preview& preview);
    static bool handle(const QKeyEvent& event, GalleryModel& model, const QList<Photo>& photos, bool rope,
                       const SpaceKeyOpener& opener, const Preview& preview);
};

} // namespace vennimo
