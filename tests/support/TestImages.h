#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace vennimo::test {

// A JPEG with an Exif APP1 segment that holds only the orientation tag.
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);
// A grey progressive JPEG of the given size made of `scans` DC scans without data after its first:
// a few bytes a scan, each of them a pass over every block of the picture for libjpeg. With
// `firstScanBytes` the first scan carries that many bytes of data, which libjpeg skips.
QByteArray manyScanJpeg(int width, int height, int scans, int firstScanBytes = 0);
// Whether the colour is the marker red of makeImage().
bool isMarkerRed(QColor color);

// How far two images of one size and format (32 bits a pixel) lie apart: the largest difference
// of any channel, and how many pixels differ at all.
struct ImageDifference {
    int largest = 0;
    qsizetype pixels = 0;
};
ImageDifference imageDifference(const QImage& a, const QImage& b);

} // namespace vennimo::test
