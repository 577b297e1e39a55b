#pragma once

#include <QRegularExpression>
#include <QString>

#include <chrono>

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
};

} // namespace vennimo
