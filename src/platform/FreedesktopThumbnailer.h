#pragma once

#include "platform/Result.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace vennimo {

// The desktop's own thumbnails, for files our decoder cannot read: a fresh thumbnail from the
// shared cache ($XDG_CACHE_HOME/thumbnails), else the output of the thumbnailer installed for the
// file's MIME type (<data dir>/thumbnailers/*.thumbnailer), which is killed when it overruns its
// time or when its caller gives up; its output is written to a private temporary folder, so
// nothing is left after that. Blocks the calling thread; safe on any thread.
class FreedesktopThumbnailer {
public:
    static constexpr std::chrono::milliseconds kTimeout{3000};

    struct Entry {
        QString tryExec{};
        QString exec{};
        QStringList mimeTypes{};

        bool operator==(const Entry&) const = default;
    };

    // Asked now and then while a thumbnailer runs: true ends it at once (a quit).
    using Cancelled = std::function<bool()>;

    static Result<QImage> thumbnail(const QString& path, int size,
                                    std::chrono::milliseconds timeout = kTimeout,
                                    const Cancelled& cancelled = {});
    // A cached thumbnail whose recorded modification time and URI match the file.
    static Result<QImage> cachedThumbnail(const QString& path);
    static Result<QImage> runThumbnailer(const QString& path, int size, std::chrono::milliseconds timeout,
                                         const Cancelled& cancelled = {});

    // The [Thumbnailer Entry] of a .thumbnailer file; nothing usable without Exec and MimeType.
    static std::optional<Entry> parseEntry(const QByteArray& text);
    // The Exec line split into arguments with %s, %u, %i, %o and %% replaced.
    static QStringList expandExec(const QString& exec, const QString& input, const QString& output, int size);
};

} // namespace vennimo
