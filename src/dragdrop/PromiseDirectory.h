#pragma once

#include "platform/Result.h"

#include <QString>

#include <chrono>
#include <memory>

namespace vennimo {

// The private folder "vennimo-drop-<UUID>" (mode 0700) in the temporary folder into which the
// promised files of one drop are written. It is removed with everything in it when the last
// holder lets go.
class PromiseDirectory {
public:
    static constexpr auto kPrefix = "vennimo-drop-";
    // Folders older than this are left over from a crash: no promise waits that long.
    static constexpr std::chrono::seconds kStaleAgeSeconds{600};

    static vennimo::Result<std::shared_ptr<PromiseDirectory>> create();
    ~PromiseDirectory();
    PromiseDirectory(const PromiseDirectory&) = delete;
    PromiseDirectory& operator=(const PromiseDirectory&) = delete;

    const QString& path() const { return m_path; }

    // Removes our own "vennimo-drop-*" folders older than `minimumAge` from the temporary folder;
    // answers how many went. Run once at start.
    static int removeStale(std::chrono::seconds minimumAge = kStaleAgeSeconds);

private:
    explicit PromiseDirectory(QString path)
        : m_path(std::move(path)) {}
    QString m_path;
};

} // namespace vennimo
