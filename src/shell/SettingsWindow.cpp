#include "shell/SettingsWindow.h"

#include "settings/GallerySettingsEditor.h"
#include "settings/GallerySettingsView.h"
#include "settings/SettingsPane.h"
#include "shell/GalleryWindowLayer.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>

namespace vennimo {

SettingsWindow::SettingsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("设置"));
    resize(SettingsPaneInfo::kContentWidth, SettingsPaneInfo::height(SettingsPane::general));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* closeKey = new QShortcut(QKeySequence::Close, this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    GalleryWindowLayer::registerWindow(this, true);
}

SettingsWindow::~SettingsWindow() {
    // The panes watch the editor: they go first.
    delete m_view;
}

GallerySettingsView* SettingsWindow::view() const {
    return m_view;
}

void SettingsWindow::open(std::unique_ptr<GallerySettingsEditor> editor) {
    delete m_view;
    m_ownedEditor = std::move(editor);
    m_editor = m_ownedEditor.get();
    m_view = new GallerySettingsView(*m_ownedEditor, this);
    layout()->addWidget(m_view);
    const auto fit = [this](QSize size) { setFixedSize(size); };
    connect(m_view, &GallerySettingsView::paneSizeChanged, this, fit);
    fit(m_view->size());
}

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
