#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace vennimo::test {

// A JPEG with an Exif APP1 segment that holds only the orientation tag.
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);
// Whether the colour is the marker red of makeImage().
bool isMarkerRed(QColor color);

} // namespace vennimo::test
