#pragma once

class QKeyEvent;

namespace vennimo {

// What a key does in the preview. Control stands where the other desktop's Command key stood;
// Backspace and Delete both take a photo down (or, with Control, to the Trash).
enum class PreviewCommand {
    none,
    close,
    closeBySpace,
    takeDown,
    previous,
    next,
    redo,
    copy,
    properties,
    undo,
    trash,
};

// The command of a key press: only Shift, Control, Alt and Meta count as modifiers, so the
// keypad flag that arrow keys carry does not stop them from paging.
PreviewCommand previewCommand(const QKeyEvent& event);
// Plain keys that the preview swallows while the model is busy.
bool previewCommandNeedsIdleModel(PreviewCommand command);

} // namespace vennimo
