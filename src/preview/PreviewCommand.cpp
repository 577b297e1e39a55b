#include "preview/PreviewCommand.h"

#include <QKeyEvent>

namespace vennimo {

PreviewCommand previewCommand(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event.key();
    const bool deleteKey = key == Qt::Key_Backspace || key == Qt::Key_Delete;
    if (modifiers == Qt::NoModifier) {
        switch (key) {
        case Qt::Key_Escape:
            return PreviewCommand::close;
        case Qt::Key_Space:
            return PreviewCommand::closeBySpace;
        case Qt::Key_Left:
            return PreviewCommand::previous;
        case Qt::Key_Right:
            return PreviewCommand::next;
        default:
            return deleteKey ? PreviewCommand::takeDown : PreviewCommand::none;
        }
    }
    if (modifiers == (Qt::ShiftModifier | Qt::ControlModifier))
        return key == Qt::Key_Z ? PreviewCommand::redo : PreviewCommand::none;
    if (modifiers == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_C:
            return PreviewCommand::copy;
        case Qt::Key_I:
            return PreviewCommand::properties;
        case Qt::Key_Z:
            return PreviewCommand::undo;
        default:
            return deleteKey ? PreviewCommand::trash : PreviewCommand::none;
        }
    }
    return PreviewCommand::none;
}

bool previewCommandNeedsIdleModel(PreviewCommand command) {
    switch (command) {
    case PreviewCommand::closeBySpace:
    case PreviewCommand::takeDown:
    case PreviewCommand::previous:
    case PreviewCommand::next:
    case PreviewCommand::trash:
        return true;
    default:
        return false;
    }
}

} // namespace vennimo
