#pragma once

#include "platform/GalleryShortcut.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;

namespace vennimo {

class GallerySettingsServices;

// The quick-open key section: four modifier boxes and a picker of the 36 keys edit the draft's
// combination at once; the label shows the combination actually registered, or "未启用".
class QuickOpenSettingsView : public QWidget {
    Q_OBJECT

public:
    QuickOpenSettingsView(GallerySettingsServices& services, QWidget* parent = nullptr);

    // Shows the draft's combination and the registered one; announces nothing.
    void display(const GalleryShortcut& draft);
    const GalleryShortcut& draft() const { return m_draft; }
    QString statusText() const;
    QCheckBox* modifierBox(std::uint32_t mask) const;
    QComboBox* keyPicker() const { return m_key; }

Q_SIGNALS:
    void shortcutEdited(const GalleryShortcut& shortcut);

private:
    void edit(const GalleryShortcut& shortcut);

    GallerySettingsServices& m_services;
    GalleryShortcut m_draft;
    std::array<QCheckBox*, 4> m_modifiers{};
    QComboBox* m_key = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace vennimo
