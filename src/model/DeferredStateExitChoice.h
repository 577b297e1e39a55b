#pragma once

#include "platform/Error.h"

#include <functional>

namespace vennimo {

// The user's answer when state could not be saved at quit.
enum class DeferredStateExitChoice {
    // "重试": flush again.
    retry,
    // "放弃并退出": drop the pending state and quit.
    discardAndQuit,
    // "取消" or the alert closed otherwise: stay.
    cancel,
};

// Asks the user what to do about state that could not be written.
using DeferredStateAlert = std::function<DeferredStateExitChoice(const Error& error)>;

} // namespace vennimo
