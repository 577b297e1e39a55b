#pragma once

#include "platform/Result.h"

#include <QRegularExpression>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace vennimo {

// The hidden temporaries our writes make beside their targets. A writer holds an exclusive
// flock on its temporary from creating it to linking it in, so a later start can tell one whose
// writer died (the kernel dropped the lock with the process) from one another running instance
// is still writing.
class LeftoverTemporaries {
public:
    using Clock = std::chrono::system_clock;

    // Marks a temporary as in the works until its descriptor is closed.
    static void holdWhileWriting(int fd);
    // The moment this process started: nothing it writes was last changed before it.
    static Clock::time_point processStart();
    // Removes the regular files of `folder` (not below it) whose names match `name`, that this
    // user owns, that were last changed before `changedBefore` and that no writer holds;
    // answers how many went.
    static int remove(const QString& folder, const QRegularExpression& name,
                      Clock::time_point changedBefore = processStart());

    // A durable list, kept in a folder of the storage, of the files one operation is about to
    // create where no name pattern tells them from the user's own: a path goes in before its file
    // is created and out when the operation knows it will not leave it behind. The list holds an
    // exclusive lock while it is open, so a sweep never takes the files of a running operation.
    class Record {
    public:
        static Result<std::shared_ptr<Record>> open(const QString& folder);
        // Closing without finish leaves the list for the next sweep.
        ~Record();
        Record(const Record&) = delete;
        Record& operator=(const Record&) = delete;

        // On disk before it returns: a failure means the file must not be created.
        Status add(const QString& path);
        // The operation did not create `path` after all, or it was removed again.
        void drop(const QString& path);
        // Everything listed is committed or gone: the list goes.
        void finish();
        // Lets go of the list, which stays for a sweep.
        void close();

    private:
        Record(int fd, QString path);
        Status append(char mark, const QString& path);

        std::mutex m_mutex;
        int m_fd;
        QString m_path;
    };
    // Removes, for each list in `folder` whose operation is gone, the files it names that are
    // still regular files of this user and that `keep` does not claim, then the list itself;
    // answers how many files went.
    static int removeRecorded(const QString& folder, const std::function<bool(const QString&)>& keep = {});
};

} // namespace vennimo
