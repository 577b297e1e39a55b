#pragma once

#include "platform/Result.h"

#include <QImage>
#include <QSize>

#include <chrono>
#include <functional>

namespace vennimo {

struct BoundedChildLimits {
    // Wall-clock time, for a child that waits instead of working.
    std::chrono::milliseconds deadline{5'000};
    // Processor time; zero: the deadline rounded up to seconds, and one more.
    std::chrono::seconds cpuTime{0};
    // On top of what the process holds when the child starts.
    qint64 memoryBytes = qint64(1) << 30;
};

// What the child answers: a code and a size of its own meaning, and a picture when it drew one.
struct BoundedChildAnswer {
    qint32 code = 0;
    QSize size;
    // Format_ARGB32_Premultiplied, or null.
    QImage image;
};

// Runs work that a small input can make unbounded (a document that draws itself over and over)
// in a forked copy of this process that is killed past a deadline, past its processor time or
// at a stop, and cannot allocate past a memory bound. The copy keeps no descriptor of the parent
// but its answer pipe and standard error, and dies with the thread that started it.
class BoundedChildProcess {
public:
    BoundedChildProcess() = delete;

    // Where the child's answer goes: the pipe to the parent, the one descriptor open in the child
    // beside the standard three.
    static constexpr int kAnswerDescriptor = 3;

    // Runs in the child, which holds a copy of the caller's memory but none of its other threads:
    // it must not wait for anything those threads might have held (a lock inside Qt above all).
    // Work that needs Qt's drawing, whose thread pool is one such thing, replaces the child with a
    // program of its own (execv) that answers with sendAnswer(); its memory bound is its own to set.
    using Work = std::function<void(BoundedChildAnswer& answer)>;

    // The child's answer; ECANCELED when `stop` answered true (asked every few milliseconds), a
    // failure when the child went past a bound, died, or sent a picture with a side over maxSide.
    // Writes the answer on kAnswerDescriptor; false when the parent is no longer reading.
    static bool sendAnswer(const BoundedChildAnswer& answer);
    // Writes all of `data`, going on after interruptions, with nothing but write(2): safe in a
    // child between fork and exec. False when the other end is gone.
    static bool writeAll(int fd, const char* data, size_t size);

    static Result<BoundedChildAnswer> run(const Work& work, int maxSide, const BoundedChildLimits& limits,
                                          const std::function<bool()>& stop = {});
};

} // namespace vennimo
