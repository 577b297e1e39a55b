#pragma once

#include "platform/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vennimo {

// Starts applications with files, never through a shell: a freedesktop ".desktop" entry through
// its Exec line (quoting and field codes as freedesktop.org's Desktop Entry format defines them), or an
// executable file given directly; and a file with the desktop's default application.
class ApplicationLauncher {
public:
    static constexpr auto kDomain = "Vennimo.Launch";

    ApplicationLauncher() = delete;

    // The arguments of an Exec value, unquoted; field codes are left in place.
    static Result<QStringList> splitExec(const QString& exec);
    // The command lines that open the files with the application, in the files' order: one for
    // an entry taking a list of files (%F, %U) or none, one per file for an entry taking one
    // (%f, %u); an executable gets all files after it.
    static Result<QList<QStringList>> commandLines(const QString& applicationPath, const QStringList& files);
    // The name a user knows the application by: the entry's Chinese or plain Name, else its
    // file name without ".desktop".
    static QString displayName(const QString& applicationPath);
    // Starts each command line as its own detached process; the first that cannot start ends
    // the launch with its reason.
    static Status launch(const QString& applicationPath, const QStringList& files);
    // One file with the desktop's default application for its type.
    static bool openWithDefault(const QString& path);
};

} // namespace vennimo
