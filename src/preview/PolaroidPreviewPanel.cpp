#include "preview/PolaroidPreviewPanel.h"

#include "model/GalleryModel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace vennimo {

namespace {

QWidget* focusedTextField(const QWidget* window) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window)
        return nullptr;
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
        qobject_cast<QPlainTextEdit*>(focus))
        return focus;
    return nullptr;
}

bool textUndo(QWidget* field, bool redo) {
    if (auto* line = qobject_cast<QLineEdit*>(field)) {
        redo ? line->redo() : line->undo();
        return true;
    }
    if (auto* text = qobject_cast<QTextEdit*>(field)) {
        redo ? text->redo() : text->undo();
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(field)) {
        redo ? plain->redo() : plain->undo();
        return true;
    }
    return false;
}

PolaroidPreviewPanel::MenuState textMenuState(QWidget* field, bool redo) {
    bool available = false;
    if (auto* line = qobject_cast<QLineEdit*>(field))
        available = redo ? line->isRedoAvailable() : line->isUndoAvailable();
    else if (auto* text = qobject_cast<QTextEdit*>(field))
        available = redo ? text->document()->isRedoAvailable() : text->document()->isUndoAvailable();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(field))
        available = redo ? plain->document()->isRedoAvailable() : plain->document()->isUndoAvailable();
    const char* title = redo ? PolaroidPreviewPanel::kRedoTitle : PolaroidPreviewPanel::kUndoTitle;
    return {QString::fromUtf8(title), available};
}

} // namespace

PolaroidPreviewPanel::PolaroidPreviewPanel(QWidget* transientParent)
    : QWidget(transientParent, Qt::Tool | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QString::fromUtf8(kTitle));
}

void PolaroidPreviewPanel::undo() {
    if (QWidget* field = focusedTextField(this)) {
        textUndo(field, false);
        return;
    }
    if (m_handleUndo)
        m_handleUndo();
    else if (m_galleryModel)
        m_galleryModel->undoRopeAction();
}

void PolaroidPreviewPanel::redo() {
    if (QWidget* field = focusedTextField(this)) {
        textUndo(field, true);
        return;
    }
    if (m_handleRedo)
        m_handleRedo();
    else if (m_galleryModel)
        m_galleryModel->redoRopeAction();
}

PolaroidPreviewPanel::MenuState PolaroidPreviewPanel::undoState() const {
    if (QWidget* field = focusedTextField(this))
        return textMenuState(field, false);
    if (m_galleryModel && m_galleryModel->canUndoRopeAction())
        return {m_galleryModel->ropeUndoTitle(), true};
    return {QString::fromUtf8(kUndoTitle), false};
}

PolaroidPreviewPanel::MenuState PolaroidPreviewPanel::redoState() const {
    if (QWidget* field = focusedTextField(this))
        return textMenuState(field, true);
    if (m_galleryModel && m_galleryModel->canRedoRopeAction())
        return {m_galleryModel->ropeRedoTitle(), true};
    return {QString::fromUtf8(kRedoTitle), false};
}

bool PolaroidPreviewPanel::routesKeys() const {
    return isActiveWindow() && !QApplication::activeModalWidget() && !focusedTextField(this);
}

bool PolaroidPreviewPanel::routeKey(QKeyEvent* event) {
    if (!routesKeys() || !m_handleShortcut)
        return false;
    // A copy: the handler may close the panel and clear its handlers.
    const auto handler = m_handleShortcut;
    return handler(event);
}

bool PolaroidPreviewPanel::event(QEvent* event) {
    // Claiming the preview's command keys before shortcuts of other windows see them, so Ctrl+Z
    // here undoes the preview's action and not whatever an application shortcut would do.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (routesKeys() && m_claimsKey && m_claimsKey(key)) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void PolaroidPreviewPanel::keyPressEvent(QKeyEvent* event) {
    if (routeKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vennimo
