#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace vennimo {

// Starting the application at login: the XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/vennimo-gallery.desktop), and the systemd user unit that earlier
// installations used for the same purpose, which is only recognised and removed.
class AutostartEntry {
public:
    static constexpr auto kEntryName = "vennimo-gallery.desktop";
    static constexpr auto kLegacyUnitName = "vennimo-gallery.service";
    // The application icon the build puts beside the program; nothing installs it into an icon
    // theme, so the entry names it by its path.
    static constexpr auto kIconFileName = "vennimo-gallery.png";
    // Neither file is anything like this large when this application wrote it.
    static constexpr qint64 kMaxFileBytes = 64 * 1024;
    static constexpr int kToolTimeoutMs = 10'000;

    // Runs a program to its end (bounded); false when it could not be started.
    using RunTool = std::function<bool(const QString& program, const QStringList& arguments)>;

    // `executable` is the program the entry starts and that a legacy unit must name to be ours.
    explicit AutostartEntry(QString executable);

    QString entryPath() const;
    QString legacyUnitPath() const;
    const QString& executable() const { return m_executable; }

    // An entry in the user's folder, or one installed for all users, that is not switched off.
    bool entryEnabled() const;
    bool entryExists() const;
    Status writeEntry() const;
    // Removes the user's entry; when an entry for all users exists it is switched off instead.
    Status removeEntry() const;

    // The legacy unit exists and its ExecStart runs this executable.
    bool hasOwnedLegacy() const;
    // Disables the unit with systemctl when it is installed (its result is not examined), then
    // deletes the unit file.
    Status removeLegacy(const RunTool& runTool) const;
    static bool runToolBlocking(const QString& program, const QStringList& arguments);

    static QString iconPath(const QString& program);
    // The Exec value of a desktop entry that starts exactly this program.
    static QString execLine(const QString& program);

private:
    QString m_executable;
};

} // namespace vennimo
