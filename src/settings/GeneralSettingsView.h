#pragma once

#include "core/SourceFolder.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QListView;
class QStandardItemModel;

namespace vennimo {

class GallerySettingsEditor;
class SettingsSwitch;

// The general pane: the source folders with their switches, removal, re-authorisation, adding
// through a folder panel and the built-in defaults; keeping windows on top; launch at login;
// the update check. Every change goes into the editor's draft.
class GeneralSettingsView : public QWidget {
    Q_OBJECT

public:
    // The folder panels; tests answer them. An empty answer is a cancel.
    struct Panels {
        // Several folders at once: title, prompt.
        std::function<QStringList(const QString& title, const QString& prompt)> chooseFolders{};
        // One folder: title, prompt, starting folder.
        std::function<std::optional<QString>(const QString& title, const QString& prompt,
                                             const QString& directory)>
            chooseFolder{};
        static Panels standard();
    };

    explicit GeneralSettingsView(GallerySettingsEditor& editor, QWidget* parent = nullptr);

    void setPanels(Panels panels) { m_panels = std::move(panels); }
    void chooseFolders();
    void reauthorize(const SourceFolder& folder);
    void restoreDefaults();
    void setFolderEnabled(const SourceFolder& folder, bool enabled);
    void remove(const SourceFolder& folder);
    const QHash<QString, QString>& draftIssues() const { return m_draftIssues; }
    // Shows the draft; recomputes the access problems of its folders.
    void refresh();

private:
    void recomputeIssues();
    void rebuildRows();
    // Row widgets exist only for the rows the list shows; the others are a height in the view.
    void showVisibleRows();
    QWidget* folderRow(const SourceFolder& folder);

    GallerySettingsEditor& m_editor;
    Panels m_panels;
    QHash<QString, QString> m_draftIssues;
    QListView* m_list = nullptr;
    QStandardItemModel* m_folders = nullptr;
    QLabel* m_noFolders = nullptr;
    QSet<int> m_rowsWithWidgets;
    int m_rowHeight = 0;
    int m_issueRowHeight = 0;
    SettingsSwitch* m_alwaysOnTop = nullptr;
    SettingsSwitch* m_login = nullptr;
};

} // namespace vennimo
