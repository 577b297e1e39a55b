#pragma once

#include <QByteArray>
#include <QProcess>
#include <QRect>
#include <QStringList>

namespace vennimo::test {

// Helpers for tests that drag from the slow drag source, a program of its own that answers the
// drop's requests as it is told.

// Where the test's drag sources show: below the rope window `window`, near the screen's left.
QRect sourceFrameBelow(const QRect& window);
// Starts the slow drag source in `frame` with `arguments` and waits until it is ready to be
// dragged from, adding what it says to `said`; false when it did not start or never got ready.
bool startSlowSource(QProcess& source, const QRect& frame, const QStringList& arguments, QByteArray& said);
// Waits for the gesture to end and then for the source to say `word` of the drop's outcome,
// adding what it says to `said`; after a drop, also until the target finished it ("finished
// copy", "finished refused"), so that the source is there while the target reads the drop.
bool awaitDropped(QProcess& gesture, QProcess& source, QByteArray& said, const QByteArray& word);

} // namespace vennimo::test
