#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vennimo {

// The desktop's applications as freedesktop ".desktop" entries: which one opens a file type by
// default, and the icon an entry names. Reads files only; starts nothing.
class DesktopApplications {
public:
    DesktopApplications() = delete;

    // The "applications" folders in the order they count: $XDG_DATA_HOME first, then each of
    // $XDG_DATA_DIRS.
    static QStringList applicationFolders();
    // The entry that opens the MIME type by default: the first [Default Applications] choice of
    // the mimeapps.list files (configuration folders first, then data folders) whose entry
    // exists, else the first entry the installed mimeinfo.cache lists for the type.
    static std::optional<QString> defaultFor(const QString& mimeType);
    // The value of the entry's Icon key: a theme name or an absolute path; empty when none.
    static QString iconName(const QString& entryPath);
    // Where an entry id such as "org.gnome.eog.desktop" lies, if anywhere.
    static std::optional<QString> locate(const QString& entryId);
};

} // namespace vennimo
