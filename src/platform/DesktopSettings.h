#pragma once

#include <QString>
#include <QStringList>

namespace vennimo {

// The settings program of the desktop the user runs, where one is installed: the place that
// stands in for the system settings panes.
class DesktopSettings {
public:
    DesktopSettings() = delete;

    // The programs looked for, in this order: GNOME, KDE Plasma, Xfce, LXQt, MATE, Cinnamon, Budgie.
    static const QStringList& knownPrograms();
    // The first of them found on PATH, as an absolute path; empty when none is installed.
    static QString installedProgram();
    // Starts it on its own, outliving this process; false when it could not be started.
    static bool open(const QString& program);
};

} // namespace vennimo
