#include "settings/GallerySettingsView.h"

#include "settings/GallerySettingsEditor.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSymbol.h"
#include "settings/SourceSettingsView.h"

#include <QActionGroup>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr double kTabSymbolPixels = 22;

} // namespace

GallerySettingsView::GallerySettingsView(GallerySettingsEditor& editor, QWidget* parent)
    : QWidget(parent)
    , m_editor(editor) {
    // Saving comes before the panes look at the change, so they show what was applied. A draft
    // edited back to the saved values is saved too while a message shows: the failures it names
    // may no longer stand, and a save finds out which still do.
    connect(&m_editor, &GallerySettingsEditor::draftChanged, this, [this] {
        if (m_editor.hasChanges() || m_editor.message())
            m_editor.save();
    });

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_toolbar = new QToolBar(this);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(int(kTabSymbolPixels), int(kTabSymbolPixels)));
    m_toolbar->setMovable(false);
    m_toolbar->setFont(SettingsStyle::font(SettingsStyle::kCaptionPixels));
    auto* leading = new QWidget(m_toolbar);
    leading->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(leading);
    m_tabs = new QActionGroup(this);
    m_tabs->setExclusive(true);
    m_stack = new QStackedWidget(this);
    for (SettingsPane pane : SettingsPaneInfo::all()) {
        QIcon icon;
        icon.addPixmap(
            SettingsSymbol::pixmap(SettingsPaneInfo::symbol(pane), kTabSymbolPixels, QColor(0, 0, 0, 170)),
            QIcon::Normal, QIcon::Off);
        icon.addPixmap(
            SettingsSymbol::pixmap(SettingsPaneInfo::symbol(pane), kTabSymbolPixels, SettingsStyle::accent()),
            QIcon::Normal, QIcon::On);
        QAction* tab = m_toolbar->addAction(icon, SettingsPaneInfo::title(pane));
        tab->setCheckable(true);
        m_tabs->addAction(tab);
        connect(tab, &QAction::triggered, this, [this, pane] { selectPane(pane); });
        auto* view = new SourceSettingsView(m_editor, pane, m_stack);
        m_stack->addWidget(view);
        m_panes.append(view);
    }
    auto* trailing = new QWidget(m_toolbar);
    trailing->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(trailing);
    for (QToolButton* button : m_toolbar->findChildren<QToolButton*>())
        button->setMinimumWidth(64);
    column->addWidget(m_toolbar);
    column->addWidget(SettingsStyle::divider(this));
    column->addWidget(m_stack);
    selectPane(SettingsPane::general);
}

SourceSettingsView* GallerySettingsView::pane(SettingsPane pane) const {
    return m_panes.value(SettingsPaneInfo::all().indexOf(pane));
}

void GallerySettingsView::selectPane(SettingsPane pane) {
    m_current = pane;
    const int index = int(SettingsPaneInfo::all().indexOf(pane));
    m_tabs->actions().at(index)->setChecked(true);
    m_stack->setCurrentIndex(index);
    const QSize size(SettingsPaneInfo::kContentWidth,
                     m_toolbar->sizeHint().height() + 1 + SettingsPaneInfo::height(pane));
    setFixedSize(size);
    Q_EMIT paneSizeChanged(size);
}

} // namespace vennimo
