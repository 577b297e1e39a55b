#pragma once

#include "model/DeferredStateExitChoice.h"
#include "platform/Error.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vennimo {

class GalleryModel;

// How a request to quit ended.
struct DeferredStateExitOutcome {
    enum class Kind {
        // Everything pending is on disk, or was given up on: the process may end.
        quit,
        // Work is running; `reason` is the title of the alert that says so.
        refused,
        // The user chose to stay after a failed save.
        cancelled,
    };
    Kind kind = Kind::quit;
    std::optional<QString> reason{};

    bool operator==(const DeferredStateExitOutcome&) const = default;
};

// The quit-time side of the model's debounced state: what the shell runs when the user quits,
// the session ends or the updater relaunches.
class DeferredStateExit {
public:
    DeferredStateExit() = delete;

    static constexpr auto kAlertMessage = "部分状态未能保存";
    static constexpr auto kRetryButton = "重试";
    static constexpr auto kDiscardButton = "放弃并退出";
    static constexpr auto kCancelButton = "取消";

    // The alert's informative text for a failed save.
    static QString alertInformativeText(const Error& error);
    // The buttons, first to last.
    static QStringList alertButtons();
    // The answer a pressed button (0 first) gives; anything else, Escape included, cancels.
    static DeferredStateExitChoice choiceForButton(int index);

    // Refuses while deleting or importing, then flushes. After a failed flush a quit that ends
    // the session gives the state up at once; otherwise the model's alert decides, and retry
    // flushes again for as long as the user asks.
    static DeferredStateExitOutcome requestQuit(GalleryModel& model, bool endsSession);
    // Before the machine sleeps: writes what it can; a failure stays published in the model.
    static void prepareForSleep(GalleryModel& model);
};

} // namespace vennimo
