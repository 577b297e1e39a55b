#pragma once

namespace vennimo {

// How an operation treats the rope histories.
enum class RopeHistoryRecording {
    // No entry at all.
    untracked,
    // Push an undo entry and empty the redo history: a fresh user action.
    record,
    // Push an undo entry and keep the redo history: a redo in progress.
    replay,
};

} // namespace vennimo
