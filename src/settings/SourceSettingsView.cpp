#include "settings/SourceSettingsView.h"

#include "settings/AlwaysVisibleScrollerView.h"
#include "settings/GalleryHelpSettingsView.h"
#include "settings/GallerySettingsEditor.h"
#include "settings/GallerySettingsServices.h"
#include "settings/GeneralSettingsView.h"
#include "settings/HangingAppearanceSettingsView.h"
#include "settings/QuickOpenSettingsView.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSymbol.h"
#include "settings/SpaceKeySettingsView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kShortcutPadding = 24;

} // namespace

SourceSettingsView::SourceSettingsView(GallerySettingsEditor& editor, SettingsPane pane, QWidget* parent)
    : QWidget(parent)
    , m_editor(editor)
    , m_pane(pane) {
    setFixedSize(SettingsPaneInfo::kContentWidth, SettingsPaneInfo::height(pane));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeContent(), 1);

    m_messageArea = new QWidget(this);
    auto* messageColumn = new QVBoxLayout(m_messageArea);
    messageColumn->setContentsMargins(0, 0, 0, 0);
    messageColumn->setSpacing(0);
    messageColumn->addWidget(SettingsStyle::divider(m_messageArea));
    auto* line = new QHBoxLayout;
    line->setContentsMargins(20, 10, 20, 10);
    line->setSpacing(6);
    auto* symbol = new QLabel(m_messageArea);
    symbol->setPixmap(SettingsSymbol::pixmap(QStringLiteral("exclamationmark.triangle.fill"), 12,
                                             SettingsStyle::warning()));
    line->addWidget(symbol, 0, Qt::AlignTop);
    m_message = SettingsStyle::label(QString(), SettingsStyle::font(SettingsStyle::kCaptionPixels),
                                     SettingsStyle::warning(), m_messageArea);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->addWidget(m_message, 1);
    messageColumn->addLayout(line);
    column->addWidget(m_messageArea);

    connect(&m_editor, &GallerySettingsEditor::messageChanged, this, &SourceSettingsView::refresh);
    connect(&m_editor, &GallerySettingsEditor::draftChanged, this, &SourceSettingsView::refresh);
    connect(&m_editor, &GallerySettingsEditor::savedChanged, this, &SourceSettingsView::refresh);
    refresh();
}

QWidget* SourceSettingsView::makeContent() {
    switch (m_pane) {
    case SettingsPane::general:
        m_general = new GeneralSettingsView(m_editor, this);
        return m_general;
    case SettingsPane::hanging: {
        m_hanging = new HangingAppearanceSettingsView;
        connect(m_hanging, &HangingAppearanceSettingsView::styleEdited, this,
                [this](const HangingStyle& style) {
                    GallerySettingsValues draft = m_editor.draft();
                    draft.style = style;
                    m_editor.setDraft(draft);
                });
        auto* scroll = new QScrollArea(this);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        scroll->setWidget(m_hanging);
        return scroll;
    }
    case SettingsPane::shortcut: {
        auto* content = new QWidget(this);
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        if (m_editor.services().hasShortcutController()) {
            m_quickOpen = new QuickOpenSettingsView(m_editor.services(), content);
            connect(m_quickOpen, &QuickOpenSettingsView::shortcutEdited, this,
                    [this](const GalleryShortcut& shortcut) {
                        GallerySettingsValues draft = m_editor.draft();
                        draft.shortcut = shortcut;
                        m_editor.setDraft(draft);
                    });
            column->addWidget(m_quickOpen);
        } else {
            QLabel* none = SettingsStyle::label(QStringLiteral("全局快捷键不可用"),
                                                SettingsStyle::font(SettingsStyle::kBodyPixels),
                                                SettingsStyle::secondary(), content);
            none->setContentsMargins(kShortcutPadding, kShortcutPadding, kShortcutPadding, kShortcutPadding);
            column->addWidget(none);
        }
        auto* divider = new QWidget(content);
        auto* dividerLine = new QHBoxLayout(divider);
        dividerLine->setContentsMargins(kShortcutPadding, 0, kShortcutPadding, 0);
        dividerLine->addWidget(SettingsStyle::divider(divider));
        column->addWidget(divider);
        m_spaceKey = new SpaceKeySettingsView(content);
        m_spaceKey->setContentsMargins(kShortcutPadding, kShortcutPadding, kShortcutPadding,
                                       kShortcutPadding);
        m_spaceKey->setOpener(m_editor.draft().spaceOpener);
        connect(m_spaceKey, &SpaceKeySettingsView::openerEdited, this, [this](const SpaceKeyOpener& opener) {
            GallerySettingsValues draft = m_editor.draft();
            draft.spaceOpener = opener;
            m_editor.setDraft(draft);
        });
        column->addWidget(m_spaceKey);
        column->addStretch(1);
        return content;
    }
    case SettingsPane::help:
        return new GalleryHelpSettingsView(this);
    }
    return new QWidget(this);
}

QString SourceSettingsView::messageText() const {
    return m_message->text();
}

bool SourceSettingsView::messageShown() const {
    return !m_messageArea->isHidden();
}

void SourceSettingsView::refresh() {
    const std::optional<QString>& message = m_editor.message();
    m_message->setText(message.value_or(QString()));
    m_messageArea->setHidden(!message.has_value());
    if (m_hanging)
        m_hanging->setStyle(m_editor.draft().style);
    if (m_quickOpen)
        m_quickOpen->display(m_editor.draft().shortcut.value_or(GalleryShortcut{}));
    if (m_spaceKey && m_spaceKey->opener() != m_editor.draft().spaceOpener)
        m_spaceKey->setOpener(m_editor.draft().spaceOpener);
}

} // namespace vennimo
