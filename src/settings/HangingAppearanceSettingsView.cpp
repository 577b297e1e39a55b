#include "settings/HangingAppearanceSettingsView.h"

#include "settings/HangingMotionPreview.h"
#include "settings/HangingStyleCard.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSwitch.h"
#include "settings/SettingsSymbol.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kPadding = 24;
constexpr int kSpacing = 18;
constexpr int kToggleSpacing = 10;
constexpr int kCardSpacing = 12;

QWidget* toggleRow(SettingsSwitch* toggle, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    toggle->setAccessibleName(text);
    layout->addWidget(toggle);
    layout->addWidget(SettingsStyle::label(text, SettingsStyle::font(SettingsStyle::kBodyPixels)));
    layout->addStretch();
    return row;
}

} // namespace

const std::array<HangingStyle, 4>& HangingAppearanceSettingsView::styles() {
    static const std::array<HangingStyle, 4> table{HangingStyle{false, true}, HangingStyle{true, true},
                                                   HangingStyle{false, false}, HangingStyle{true, false}};
    return table;
}

HangingAppearanceSettingsView::HangingAppearanceSettingsView(QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);

    auto* header = new QHBoxLayout;
    header->addWidget(SettingsStyle::heading(QStringLiteral("悬挂样式")));
    header->addStretch();
    auto* replayButton = new QToolButton(this);
    replayButton->setAutoRaise(true);
    replayButton->setIcon(
        SettingsSymbol::icon(QStringLiteral("arrow.clockwise"), 16, SettingsStyle::accent()));
    replayButton->setToolTip(QStringLiteral("重播"));
    replayButton->setAccessibleName(QStringLiteral("重播预览"));
    connect(replayButton, &QToolButton::clicked, this, &HangingAppearanceSettingsView::replayAll);
    header->addWidget(replayButton);
    column->addLayout(header);

    auto* toggles = new QVBoxLayout;
    toggles->setSpacing(kToggleSpacing);
    m_offCenter = new SettingsSwitch(SettingsSwitch::Size::regular, this);
    m_vertical = new SettingsSwitch(SettingsSwitch::Size::regular, this);
    toggles->addWidget(toggleRow(m_offCenter, QStringLiteral("夹子偏离照片中心"), this));
    toggles->addWidget(toggleRow(m_vertical, QStringLiteral("照片严格垂直于地面"), this));
    column->addLayout(toggles);
    // A switch edits one field; no miniature restarts.
    connect(m_offCenter, &SettingsSwitch::clicked, this, [this](bool on) {
        HangingStyle next = m_style;
        next.offCenter = on;
        m_style = next;
        showSelection();
        Q_EMIT styleEdited(next);
    });
    connect(m_vertical, &SettingsSwitch::clicked, this, [this](bool on) {
        HangingStyle next = m_style;
        next.strictlyVertical = on;
        m_style = next;
        showSelection();
        Q_EMIT styleEdited(next);
    });

    auto* grid = new QGridLayout;
    grid->setSpacing(kCardSpacing);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    for (size_t i = 0; i < styles().size(); ++i) {
        auto* card = new HangingStyleCard(styles()[i], this);
        const HangingStyle cardStyle = styles()[i];
        connect(card, &HangingStyleCard::clicked, this, [this, cardStyle] { choose(cardStyle); });
        grid->addWidget(card, int(i / 2), int(i % 2));
        m_cards.append(card);
    }
    column->addLayout(grid);
    column->addStretch();
    showSelection();
}

void HangingAppearanceSettingsView::setStyle(const HangingStyle& style) {
    m_style = style;
    showSelection();
}

void HangingAppearanceSettingsView::choose(const HangingStyle& style) {
    const bool changed = style != m_style;
    m_style = style;
    showSelection();
    if (changed)
        Q_EMIT styleEdited(style);
    // Every card's miniature restarts, not only the chosen one.
    replayAll();
}

void HangingAppearanceSettingsView::replayAll() {
    ++m_replay;
    for (HangingStyleCard* card : std::as_const(m_cards))
        card->preview()->setReplay(m_replay);
}

void HangingAppearanceSettingsView::showSelection() {
    m_offCenter->setChecked(m_style.offCenter);
    m_vertical->setChecked(m_style.strictlyVertical);
    for (HangingStyleCard* card : std::as_const(m_cards))
        card->setSelected(card->style() == m_style);
}

} // namespace vennimo
