#include "shell/SettingsWindow.h"

#include "shell/GalleryWindowLayer.h"
#include "shell/SettingsEditorPort.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

namespace vennimo {

SettingsWindow::SettingsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("设置"));
    resize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral("设置项将在后续版本中提供。"), this);
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
    auto* closeKey = new QShortcut(QKeySequence::Close, this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    GalleryWindowLayer::registerWindow(this, true);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::closeEvent(QCloseEvent* event) {
    if (m_editor && m_editor->saving()) {
        event->ignore();
        return;
    }
    if (m_editor && m_editor->hasChanges())
        m_editor->discard();
    event->accept();
    Q_EMIT closing();
}

} // namespace vennimo
