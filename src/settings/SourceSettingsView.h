#pragma once

#include "settings/SettingsPane.h"

#include <QWidget>

class QLabel;

namespace vennimo {

class GallerySettingsEditor;
class GeneralSettingsView;
class HangingAppearanceSettingsView;
class QuickOpenSettingsView;
class SpaceKeySettingsView;

// One pane of the settings window at its fixed size: the pane's content, and under it, while
// the editor has one, the message of the last save or of a folder action.
class SourceSettingsView : public QWidget {
    Q_OBJECT

public:
    SourceSettingsView(GallerySettingsEditor& editor, SettingsPane pane, QWidget* parent = nullptr);

    SettingsPane pane() const { return m_pane; }
    QString messageText() const;
    bool messageShown() const;
    GeneralSettingsView* general() const { return m_general; }
    HangingAppearanceSettingsView* hanging() const { return m_hanging; }
    QuickOpenSettingsView* quickOpen() const { return m_quickOpen; }
    SpaceKeySettingsView* spaceKey() const { return m_spaceKey; }
    // Brings the content up to the editor's draft.
    void refresh();

private:
    QWidget* makeContent();

    GallerySettingsEditor& m_editor;
    SettingsPane m_pane;
    QWidget* m_messageArea = nullptr;
    QLabel* m_message = nullptr;
    GeneralSettingsView* m_general = nullptr;
    HangingAppearanceSettingsView* m_hanging = nullptr;
    QuickOpenSettingsView* m_quickOpen = nullptr;
    SpaceKeySettingsView* m_spaceKey = nullptr;
};

} // namespace vennimo
