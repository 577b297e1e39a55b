#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

// The two image reads this library needs, kept in one place so every job decodes alike.
namespace ImageReading {

// Pixel size after the file's orientation is applied; nothing when the header cannot be read.
std::optional<QSize> orientedPixelSize(const QString& path);
// The image, upright, with its longer side at most maxPixels; a null image on any failure, and
// once `stop` answers true (it is asked as the file is read).
QImage decodeScaled(const QString& path, int maxPixels, const std::function<bool()>& stop = {});

} // namespace ImageReading

} // namespace vennimo
