#pragma once

#include <QStringList>

namespace vennimo {

// Has the kernel refuse every later open of this process, so that a parser following a name it
// found in a document reaches nothing: not a file, a FIFO or a terminal. Files beneath the
// folders given stay readable (fonts, opened by name as text is drawn). Landlock where the kernel
// offers it; else a seccomp filter that refuses every open, those folders' files too.
class FileLockdown {
public:
    enum class Kind { Landlock, Seccomp, None };

    // Opens the folders and prepares the rule set now: apply() itself opens nothing.
    explicit FileLockdown(const QStringList& readableFolders);
    ~FileLockdown();
    FileLockdown(const FileLockdown&) = delete;
    FileLockdown& operator=(const FileLockdown&) = delete;

    // What the kernel now refuses with; None where it offers neither restriction. For the calling
    // thread and those it starts later: call it while the process has no other thread.
    Kind apply();
    // Whether apply() will leave the folders readable: Landlock is there and took the rule set.
    bool keepsFontsReadable() const { return m_ruleset >= 0; }

    // The seccomp filter alone: open, openat, openat2 and creat fail with EACCES from here on.
    static bool refuseEveryOpen();

private:
    int m_ruleset = -1;
};

} // namespace vennimo
