#pragma once

#include <QString>

#include <optional>

namespace vennimo::test {

// Sends the window the window manager's "are you there" (_NET_WM_PING) over a connection of its
// own, and answers how many milliseconds its program took to answer: only a main thread that
// turns its event loop answers. Nothing when no answer came within `limitMs`.
std::optional<qint64> pingWindow(const QString& windowId, int limitMs);

} // namespace vennimo::test
