#pragma once

#include "core/Photo.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <vector>

namespace vennimo::test {

// A photo record for an image file and its thumbnail file (the image itself when empty).
Photo photoFor(const QString& path, const QString& thumbnail = {},
               const QString& id = QStringLiteral("1-10"));
// Writes "<folder>/<name>.png" and, when asked, a half-size "<name>-thumb.jpg"; id "1-<name>".
Photo writePhoto(const QString& folder, const QString& name, QSize size = {64, 48},
                 bool withThumbnail = false, QColor color = Qt::darkCyan);
// Writes `count` photos "p0", "p1", ... into a fresh folder.
std::vector<Photo> writePhotos(const QString& folderName, int count, QSize size = {64, 48},
                               bool withThumbnail = false);
// Whether a premultiplied pixel is within `tolerance` of a colour in every channel (0...255).
bool near(QRgb actual, QColor expected, int tolerance);
// Turns the event loop until the condition holds (or two seconds pass); settle() turns it a while.
bool spinUntil(const std::function<bool()>& condition);
void settle();
QImage solid(int width, int height, QColor color = Qt::gray);

} // namespace vennimo::test
