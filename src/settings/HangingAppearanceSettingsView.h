#pragma once

#include "rope/HangingStyle.h"

#include <QList>
#include <QWidget>

#include <array>

class QCheckBox;

namespace vennimo {

class HangingStyleCard;
class SettingsSwitch;

// The hanging pane: four cards, one per style, each with its animated miniature; two switches
// for the style's two fields; a replay button that restarts every miniature. It edits only the
// style it is given and reports each change; choosing a card also replays.
class HangingAppearanceSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit HangingAppearanceSettingsView(QWidget* parent = nullptr);

    // The cards' styles in their order.
    static const std::array<HangingStyle, 4>& styles();

    const HangingStyle& style() const { return m_style; }
    // Shows the draft's style; announces nothing.
    void setStyle(const HangingStyle& style);
    int replay() const { return m_replay; }
    void replayAll();
    const QList<HangingStyleCard*>& cards() const { return m_cards; }
    SettingsSwitch* offCenterSwitch() const { return m_offCenter; }
    SettingsSwitch* verticalSwitch() const { return m_vertical; }

Q_SIGNALS:
    void styleEdited(const HangingStyle& style);

private:
    void choose(const HangingStyle& style);
    void showSelection();

    HangingStyle m_style;
    int m_replay = 0;
    QList<HangingStyleCard*> m_cards;
    SettingsSwitch* m_offCenter = nullptr;
    SettingsSwitch* m_vertical = nullptr;
};

} // namespace vennimo
