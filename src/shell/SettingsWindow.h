#pragma once

#include <QPointer>
#include <QWidget>

namespace vennimo {

class SettingsEditorPort;

// The settings window's frame: titled "设置", created once and kept when closed. It refuses to
// close while its editor saves and drops unsaved changes when it closes. Until the panes exist
// it shows a line saying so.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 480;

    explicit SettingsWindow(QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // The draft of the open window; none until the panes are built.
    SettingsEditorPort* editor() const { return m_editor; }
    void setEditor(SettingsEditorPort* editor) { m_editor = editor; }

Q_SIGNALS:
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SettingsEditorPort* m_editor = nullptr;
};

} // namespace vennimo
