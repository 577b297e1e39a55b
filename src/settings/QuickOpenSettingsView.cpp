#include "settings/QuickOpenSettingsView.h"

#include "settings/GallerySettingsServices.h"
#include "settings/SettingsStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kPadding = 24;
constexpr int kSpacing = 18;
constexpr int kPickerWidth = 100;

struct Modifier {
    std::uint32_t mask;
    const char* text;
};
constexpr std::array<Modifier, 4> kModifiers{{{GalleryShortcut::kControlMask, "Ctrl"},
                                              {GalleryShortcut::kOptionMask, "Alt"},
                                              {GalleryShortcut::kShiftMask, "Shift"},
                                              {GalleryShortcut::kCommandMask, "Super"}}};

} // namespace

QuickOpenSettingsView::QuickOpenSettingsView(GallerySettingsServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(SettingsStyle::heading(QStringLiteral("全局快捷键")));

    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(10);
    for (size_t i = 0; i < kModifiers.size(); ++i) {
        auto* box = new QCheckBox(QString::fromUtf8(kModifiers[i].text), this);
        box->setFont(SettingsStyle::font(SettingsStyle::kBodyPixels));
        const std::uint32_t mask = kModifiers[i].mask;
        // Ticking adds the modifier, unticking removes it; the key stays.
        connect(box, &QCheckBox::toggled, this, [this, mask](bool on) {
            GalleryShortcut next = m_draft;
            next.modifiers = on ? (next.modifiers | mask) : (next.modifiers & ~mask);
            edit(next);
        });
        boxes->addWidget(box);
        m_modifiers[i] = box;
    }
    boxes->addSpacing(4);
    boxes->addWidget(
        SettingsStyle::label(QStringLiteral("按键"), SettingsStyle::font(SettingsStyle::kBodyPixels)));
    m_key = new QComboBox(this);
    m_key->setAccessibleName(QStringLiteral("按键"));
    m_key->setFixedWidth(kPickerWidth);
    for (const GalleryShortcut::Key& key : GalleryShortcut::keys())
        m_key->addItem(QString(QLatin1Char(key.name)), uint(key.keyCode));
    connect(m_key, &QComboBox::activated, this, [this](int index) {
        GalleryShortcut next = m_draft;
        next.keyCode = m_key->itemData(index).toUInt();
        edit(next);
    });
    boxes->addWidget(m_key);
    boxes->addStretch();
    column->addLayout(boxes);

    auto* statusRow = new QHBoxLayout;
    m_status = SettingsStyle::label(QString(),
                                    SettingsStyle::monospaced(SettingsStyle::kTitle3Pixels, QFont::DemiBold));
    statusRow->addWidget(m_status);
    statusRow->addStretch();
    auto* restore = new QPushButton(QStringLiteral("恢复默认"), this);
    connect(restore, &QPushButton::clicked, this, [this] { edit(GalleryShortcut{}); });
    statusRow->addWidget(restore);
    column->addLayout(statusRow);
    column->addWidget(SettingsStyle::label(QStringLiteral("需包含 Ctrl 或 Super"),
                                           SettingsStyle::font(SettingsStyle::kCaptionPixels),
                                           SettingsStyle::secondary()));
    column->addStretch();
    display(GalleryShortcut{});
}

QString QuickOpenSettingsView::statusText() const {
    return m_services.shortcutRegistered() ? m_services.shortcut().label() : QStringLiteral("未启用");
}

QCheckBox* QuickOpenSettingsView::modifierBox(std::uint32_t mask) const {
    for (size_t i = 0; i < kModifiers.size(); ++i) {
        if (kModifiers[i].mask == mask)
            return m_modifiers[i];
    }
    return nullptr;
}

void QuickOpenSettingsView::display(const GalleryShortcut& draft) {
    m_draft = draft;
    for (size_t i = 0; i < kModifiers.size(); ++i) {
        const QSignalBlocker blocker(m_modifiers[i]);
        m_modifiers[i]->setChecked((draft.modifiers & kModifiers[i].mask) != 0);
    }
    m_key->setCurrentIndex(m_key->findData(uint(draft.keyCode)));
    m_status->setText(statusText());
}

void QuickOpenSettingsView::edit(const GalleryShortcut& shortcut) {
    if (shortcut == m_draft)
        return;
    m_draft = shortcut;
    Q_EMIT shortcutEdited(shortcut);
}

} // namespace vennimo
