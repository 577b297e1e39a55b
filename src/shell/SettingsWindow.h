#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

namespace vennimo {

class GallerySettingsEditor;
class GallerySettingsView;
class SettingsEditorPort;

// The settings window: titled "设置", created once and kept when closed, showing the four
// panes over the editor it was last opened with. It refuses to close while its editor saves
// and drops unsaved changes when it closes.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // Shows the panes over a new editor; the previous one and its panes go.
    void open(std::unique_ptr<GallerySettingsEditor> editor);
    GallerySettingsView* view() const;

    // The draft of the open window; none before the first open().
    SettingsEditorPort* editor() const { return m_editor; }
    void setEditor(SettingsEditorPort* editor) { m_editor = editor; }

Q_SIGNALS:
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SettingsEditorPort* m_editor = nullptr;
    std::unique_ptr<GallerySettingsEditor> m_ownedEditor;
    QPointer<GallerySettingsView> m_view;
};

} // namespace vennimo
