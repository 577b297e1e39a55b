#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

class QDBusMessage;

namespace vennimo {

// The desktop's file manager over D-Bus (org.freedesktop.FileManager1): its properties windows
// and showing files in their folders. The calls block, so they belong on a worker thread.
class FileManager1 {
public:
    struct Options {
        QString service = QStringLiteral("org.freedesktop.FileManager1");
        // Whether the bus may start a file manager that is installed but not running.
        bool autoStart = true;
        int timeoutMilliseconds = 10000;
    };

    FileManager1();
    explicit FileManager1(Options options);

    // One call for all files; fails when no file manager answers or it refuses. The windows it
    // opens carry the startup notification id given.
    Status showItemProperties(const QStringList& paths, const QString& startupId = {}) const;
    Status showItems(const QStringList& paths) const;
    // Shows the files in their folders without waiting, or, when no file manager answers, opens
    // each distinct folder with the desktop's default handler. Main thread only.
    void reveal(const QStringList& paths) const;

    static QStringList fileUris(const QStringList& paths);

private:
    QDBusMessage message(const QString& method, const QStringList& paths,
                         const QString& startupId = {}) const;
    Status call(const QString& method, const QStringList& paths, const QString& startupId = {}) const;

    Options m_options;
};

} // namespace vennimo
