#pragma once

#include <functional>

namespace vennimo {

// The one picture of the process keeping more than its share of memory while it is decoded, so
// that two such never add up. Those waiting get it in the order they came, and one that waited is
// never passed over by a later one. A task on a WorkQueue of several workers may wait for it
// without its worker: it is put back to its queue and runs again from its start holding the turn,
// as one more worker of its queue.
class LargeTurn {
public:
    // The turn while held; given to whoever waits next when given back or ended.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        ~Hold();
        explicit operator bool() const { return m_held; }
        void giveBack();

    private:
        friend class LargeTurn;
        bool m_held = false;
    };

    // While one lives on a worker of a queue of several workers, a picture that finds the turn
    // taken is not waited for: take answers at once without the turn, and the task, seeing
    // putBack(), returns having done nothing. It runs again once the turn is its, and its first
    // take then holds it. A queue whose tasks wait so should have no task that waits on its
    // worker: a task woken with the turn could otherwise find every worker waiting behind it.
    class PutBackScope {
    public:
        PutBackScope();
        ~PutBackScope();
        PutBackScope(const PutBackScope&) = delete;
        PutBackScope& operator=(const PutBackScope&) = delete;
        bool putBack() const { return m_putBack; }

    private:
        friend class LargeTurn;
        PutBackScope* m_outer = nullptr;
        bool m_putBack = false;
    };

    // The turn, waited for while `stop` (when given) answers false, asked every few tens of
    // milliseconds; none once it answered true or the task was put back.
    static Hold take(const std::function<bool()>* stop);
    // Pictures waiting, aside or on their threads.
    static int waiting();

private:
    static void give();
};

} // namespace vennimo
