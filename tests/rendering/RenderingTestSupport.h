#pragma once

#include "core/Photo.h"

#include <QColor>
#include <QImage>
#include <QString>

namespace vennimo::test {

// A landscape picture (sky, sun, hills, a lake) that reads as a photograph when looked at.
QImage makeLandscape(int width, int height);
// A photo record for an image file, with a thumbnail file when `thumbnail` is not empty.
Photo photoFor(const QString& path, const QString& thumbnail = {},
               const QString& id = QStringLiteral("1-10"));
// Whether two colours differ by at most `tolerance` in every channel (0...255).
bool near(QRgb actual, QColor expected, int tolerance);

} // namespace vennimo::test
