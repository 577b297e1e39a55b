#pragma once

#include "core/Photo.h"

#include <QColor>
#include <QImage>

#include <functional>

namespace vennimo::test {

// A landscape (sky, sun high on the right, hills, a lake) that reads as a photograph.
QImage makeLandscape(int width, int height);
// A photo record for an image file, with a separate thumbnail file when `thumbnail` is not empty.
Photo photoFor(const QString& path, const QString& thumbnail = {},
               const QString& id = QStringLiteral("1-10"));
// Whether two colours differ by at most `tolerance` in every channel (0...255).
bool near(QRgb actual, QColor expected, int tolerance);
// Turns the event loop until the condition holds or two seconds pass.
bool spinUntil(const std::function<bool()>& condition);
// Turns the event loop a while, so deliveries that should not come would.
void settle();
QImage solid(int width, int height, QColor color = Qt::gray);

} // namespace vennimo::test
