#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo::bench {

// SOI, `segments` empty comments (FF FE 00 02), then a 64 x 64 baseline picture: four bytes a
// segment that a decoder keeping its markers in a list pays for with the square of their number.
QByteArray markerFloodJpeg(int segments);
// A 10000 x 10000 progressive JPEG of `components` full-resolution components and `scans` DC
// scans without data, Huffman or arithmetic coded: about a kilobyte that asks for a pass over
// every block of the picture a scan.
QByteArray scanFloodJpeg(int components, int scans, bool arithmetic);
// A camera-like progressive photo (noise over gradients, colour at half the width, 4:2:2 as
// cameras write it) made by libjpeg.
bool writeProgressivePhoto(const QString& path, int width, int height, int quality);
// Runs `work` and answers how far this process's resident memory rose above what it was before,
// at its highest, in MB; none when the work failed or the peak cannot be reset.
std::optional<double> peakMegabytesOf(const std::function<bool()>& work);

} // namespace vennimo::bench
