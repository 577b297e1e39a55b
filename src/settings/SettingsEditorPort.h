#pragma once

namespace vennimo {

// What closing the settings window and quitting need of the settings draft.
class SettingsEditorPort {
public:
    virtual ~SettingsEditorPort() = default;

    // A save is being applied: the window stays and the application does not quit.
    virtual bool saving() const = 0;
    virtual bool hasChanges() const = 0;
    // Drops the unsaved draft.
    virtual void discard() = 0;
};

} // namespace vennimo
