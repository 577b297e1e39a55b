#pragma once

#include "settings/SettingsPane.h"

#include <QList>
#include <QWidget>

class QActionGroup;
class QStackedWidget;
class QToolBar;

namespace vennimo {

class GallerySettingsEditor;
class SourceSettingsView;

// The settings window's content: the four panes as toolbar tabs over one editor. Every change
// of the draft is saved at once; the window takes the chosen pane's size.
class GallerySettingsView : public QWidget {
    Q_OBJECT

public:
    explicit GallerySettingsView(GallerySettingsEditor& editor, QWidget* parent = nullptr);

    GallerySettingsEditor& editor() const { return m_editor; }
    SettingsPane currentPane() const { return m_current; }
    void selectPane(SettingsPane pane);
    SourceSettingsView* pane(SettingsPane pane) const;
    QToolBar* toolbar() const { return m_toolbar; }

Q_SIGNALS:
    // The size the window should take for the chosen pane.
    void paneSizeChanged(QSize size);

private:
    GallerySettingsEditor& m_editor;
    SettingsPane m_current = SettingsPane::general;
    QToolBar* m_toolbar = nullptr;
    QActionGroup* m_tabs = nullptr;
    QStackedWidget* m_stack = nullptr;
    QList<SourceSettingsView*> m_panes;
};

} // namespace vennimo
