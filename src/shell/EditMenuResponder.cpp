#include "shell/EditMenuResponder.h"

#include "model/GalleryModel.h"
#include "preview/PolaroidPreviewPanel.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QTextEdit>

namespace vennimo {

namespace {

using Command = EditMenuResponder::Command;

bool clipboardHasText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasText();
}

// What a text field offers: a selection to cut or copy, room to paste, text to select, steps to
// undo and redo.
struct TextOffer {
    bool selection = false;
    bool editable = false;
    bool text = false;
    bool undo = false;
    bool redo = false;
};

std::optional<TextOffer> textOffer(const QWidget* focus) {
    if (auto* line = qobject_cast<const QLineEdit*>(focus))
        return TextOffer{line->hasSelectedText() && line->echoMode() == QLineEdit::Normal,
                         !line->isReadOnly(), !line->text().isEmpty(), line->isUndoAvailable(),
                         line->isRedoAvailable()};
    if (auto* text = qobject_cast<const QTextEdit*>(focus))
        return TextOffer{text->textCursor().hasSelection(), !text->isReadOnly(), !text->document()->isEmpty(),
                         text->document()->isUndoAvailable(), text->document()->isRedoAvailable()};
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(focus))
        return TextOffer{plain->textCursor().hasSelection(), !plain->isReadOnly(),
                         !plain->document()->isEmpty(), plain->document()->isUndoAvailable(),
                         plain->document()->isRedoAvailable()};
    return std::nullopt;
}

// The keyboard's widget in the window: the focused one while the window is active, else the one
// that takes the keyboard when it is activated. A click on a window's menu bar opens the menu
// before the window manager's activation arrives.
QWidget* focusIn(const QWidget* window) {
    if (window == nullptr)
        return nullptr;
    QWidget* focus =
        window == QApplication::activeWindow() ? QApplication::focusWidget() : window->focusWidget();
    return focus != nullptr && focus->window() == window ? focus : nullptr;
}

} // namespace

QString EditMenuResponder::title(Command command) {
    switch (command) {
    case Command::undo:
        return QStringLiteral("撤销");
    case Command::redo:
        return QStringLiteral("重做");
    case Command::cut:
        return QStringLiteral("剪切");
    case Command::copy:
        return QStringLiteral("复制");
    case Command::paste:
        return QStringLiteral("粘贴");
    case Command::selectAll:
        return QStringLiteral("全选");
    }
    return {};
}

QKeyCombination EditMenuResponder::key(Command command) {
    switch (command) {
    case Command::undo:
        return Qt::ControlModifier | Qt::Key_Z;
    case Command::redo:
        return Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z;
    case Command::cut:
        return Qt::ControlModifier | Qt::Key_X;
    case Command::copy:
        return Qt::ControlModifier | Qt::Key_C;
    case Command::paste:
        return Qt::ControlModifier | Qt::Key_V;
    case Command::selectAll:
        return Qt::ControlModifier | Qt::Key_A;
    }
    return {};
}

EditMenuResponder::State EditMenuResponder::state(Command command, const GalleryModel* model,
                                                  const QWidget* window) {
    if (window == nullptr)
        window = QApplication::activeWindow();
    const QWidget* focus = focusIn(window);
    const QString plain = title(command);
    const std::optional<TextOffer> offer = textOffer(focus);
    if (command == Command::undo || command == Command::redo) {
        const bool redo = command == Command::redo;
        // Both windows know their own text fields and history titles.
        if (auto* panel = qobject_cast<const PolaroidPreviewPanel*>(window)) {
            const auto item = redo ? panel->redoState() : panel->undoState();
            return {item.title, item.enabled};
        }
        if (auto* gallery = qobject_cast<const GalleryWindow*>(window)) {
            const auto item = redo ? gallery->redoMenuItem() : gallery->undoMenuItem();
            return {item.title, item.enabled};
        }
        return {plain, offer && (redo ? offer->redo : offer->undo)};
    }
    if (offer) {
        switch (command) {
        case Command::cut:
            return {plain, offer->selection && offer->editable};
        case Command::copy:
            return {plain, offer->selection};
        case Command::paste:
            return {plain, offer->editable && clipboardHasText()};
        default:
            return {plain, offer->text};
        }
    }
    // The photo screens neither cut nor paste; they copy and select photos.
    const bool idle = model != nullptr && !model->isBusy();
    if (qobject_cast<const PolaroidPreviewPanel*>(window))
        return {plain, idle && command == Command::copy};
    if (qobject_cast<const GalleryWindow*>(window)) {
        if (command == Command::copy)
            return {plain, idle && !model->selectedIDs().isEmpty()};
        if (command == Command::selectAll)
            return {plain, idle && !model->photos().isEmpty()};
    }
    return {plain, false};
}

void EditMenuResponder::perform(Command command, QWidget* window) {
    // A key sent here may find a shortcut that leads back.
    static bool performing = false;
    if (performing)
        return;
    const QScopedValueRollback guard(performing, true);
    if (window == nullptr)
        window = QApplication::activeWindow();
    QWidget* target = focusIn(window);
    // A menu bar in keyboard mode holds the focus for the window's own widgets.
    if (target == nullptr || qobject_cast<QMenuBar*>(target) != nullptr ||
        qobject_cast<QMenu*>(target) != nullptr)
        target = window;
    if (target == nullptr)
        return;
    // The key takes the way a typed one takes: the field, then the screen and its window.
    const QKeyCombination combination = key(command);
    QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
    QApplication::sendEvent(target, &release);
}

} // namespace vennimo
