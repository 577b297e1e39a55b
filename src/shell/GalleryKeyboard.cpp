#include "shell/GalleryKeyboard.h"

#include "model/GalleryModel.h"

#include <QKeyEvent>

namespace vennimo {

namespace {

// Only the modifiers a user holds down count; the keypad flag and the lock keys do not.
constexpr Qt::KeyboardModifiers kCounted =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

bool isDelete(int key) {
    return key == Qt::Key_Backspace || key == Qt::Key_Delete;
}

} // namespace

GalleryKeyboard::Command GalleryKeyboard::command(int key, Qt::KeyboardModifiers modifiers, bool rope) {
    const Qt::KeyboardModifiers held = modifiers & kCounted;
    const bool none = held == Qt::NoModifier;
    const bool command = held == Qt::ControlModifier;
    const bool shiftCommand = held == (Qt::ShiftModifier | Qt::ControlModifier);
    const bool shift = held == Qt::ShiftModifier;
    if (shiftCommand && key == Qt::Key_Z)
        return Command::redo;
    if (command) {
        switch (key) {
        case Qt::Key_Z:
            return Command::undo;
        case Qt::Key_A:
            return Command::selectAll;
        case Qt::Key_C:
            return Command::copy;
        case Qt::Key_I:
            return Command::properties;
        default:
            break;
        }
        if (isDelete(key))
            return Command::trash;
    }
    if (none && isDelete(key) && rope)
        return Command::takeDown;
    if (none && key == Qt::Key_Space)
        return Command::space;
    if (rope && (none || shift) && (key == Qt::Key_Left || key == Qt::Key_Right)) {
        if (key == Qt::Key_Left)
            return shift ? Command::extendLeft : Command::left;
        return shift ? Command::extendRight : Command::right;
    }
    return Command::none;
}

bool GalleryKeyboard::handle(int key, Qt::KeyboardModifiers modifiers, GalleryModel& model,
                             const QList<Photo>& photos, bool rope, const SpaceKeyOpener& opener,
                             const Preview& preview) {
    const Command claimed = command(key, modifiers, rope);
    if (claimed == Command::none)
        return false;
    if (model.isBusy())
        return true;
    QList<Photo> selected;
    for (const Photo& photo : photos) {
        if (model.selectedIDs().contains(photo.id))
            selected.append(photo);
    }
    switch (claimed) {
    case Command::none:
        break;
    case Command::redo:
        model.redoRopeAction();
        break;
    case Command::undo:
        model.undoRopeAction();
        break;
    case Command::selectAll:
        model.toggleAllSelection(photos);
        break;
    case Command::copy:
        model.copySelection();
        break;
    case Command::properties:
        model.showProperties(std::nullopt);
        break;
    case Command::trash:
        model.confirmTrash(selected);
        break;
    case Command::takeDown:
        model.takeDownSelection();
        break;
    case Command::space:
        if (opener.kind != SpaceKeyOpener::Kind::preview)
            model.openWithSpaceKeyApp(selected, opener);
        else if (!selected.isEmpty() && preview)
            preview(selected.first());
        break;
    case Command::left:
    case Command::right:
    case Command::extendLeft:
    case Command::extendRight:
        model.moveKeyboardSelection(photos,
                                    claimed == Command::left || claimed == Command::extendLeft ? -1 : 1,
                                    claimed == Command::extendLeft || claimed == Command::extendRight);
        break;
    }
    return true;
}

bool GalleryKeyboard::handle(const QKeyEvent& event, GalleryModel& model, const QList<Photo>& photos,
                             bool rope, const SpaceKeyOpener& opener, const Preview& preview) {
    return handle(event.key(), event.modifiers(), model, photos, rope, opener, preview);
}

} // namespace vennimo
