#pragma once

#include "platform/DesktopSettings.h"

#include <QString>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Explains that deleting Photos-library originals needs access to the library, and offers the
// desktop's settings program, or says that there is none.
class PhotosAccessAlert {
public:
    using ProgramLauncher = std::function<bool(const QString& program)>;

    static constexpr auto kNoSettingsProgram = "这个桌面没有可以打开的系统设置程序。";

    // With the button that opens the settings program when there is one, else saying so.
    static std::unique_ptr<QMessageBox> makeAlert(QWidget* parent = nullptr, bool settingsProgram = true);
    // Runs the alert modally; the settings button starts `settingsProgram` through `launch` (by
    // default on its own, outliving this process).
    static void run(QWidget* parent = nullptr,
                    const QString& settingsProgram = DesktopSettings::installedProgram(),
                    const ProgramLauncher& launch = {});
};

} // namespace vennimo
