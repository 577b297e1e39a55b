#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

namespace vennimo::test {

// A JPEG with an Exif APP1 segment that holds only the orientation tag.
// The image as Qt's writer encodes it, baseline or progressive.
QByteArray jpegOf(const QImage& image, int quality = 90, bool progressive = false);
// Its TIFF data in either byte order: Motorola's (big-endian) or Intel's (little-endian), which
// many cameras write.
enum class ExifOrder { Motorola, Intel };
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation,
                               ExifOrder order = ExifOrder::Motorola);
// A grey progressive JPEG of the given size made of `scans` DC scans without data after its first:
// a few bytes a scan, each of them a pass over every block of the picture for libjpeg. With
// `firstScanBytes` the first scan carries that many bytes of data, which libjpeg skips. With
// `components` 3 or 4 its scans hold each of them, at full resolution.
QByteArray manyScanJpeg(int width, int height, int scans, int firstScanBytes = 0, int components = 1);
// `value` in `count` bytes, least significant first, as TIFF "II" files and GIFs write it.
QByteArray littleEndian(quint32 value, int count);
// The smallest DNG LibRaw takes: IFD0 is its preview carrying the orientation, its SubIFD a 64x32
// 16-bit CFA image. The preview is a 32x16 RGB bitmap of makeImage() (red top-left corner) or,
// when given, the JPEG bytes, which the TIFF tags say are 32x16 whatever the JPEG claims.
QByteArray makeDng(int orientation, const QByteArray& jpegPreview = {});
// A PNG chunk: its length, type, data and CRC.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data);
// An 8-bit grey PNG whose rows above `split` are black and the rest white, stored row by row or
// in Adam7's seven passes; compresses to a few kilobytes whatever its size.
QByteArray greyPng(quint32 width, quint32 height, quint32 split, bool interlaced = false);
// WebPs made by libwebp's own encoder and muxer: a still picture with its alpha channel, lossless
// or lossy; an animation whose frames lie at even offsets on a transparent canvas; and a still
// WebP given a colour profile. Empty when libwebp refuses.
QByteArray webpOf(const QImage& image, bool lossless, int quality = 90);
struct WebpFrame {
    QImage image;
    QPoint offset;
};
QByteArray animatedWebp(QSize canvas, const QList<WebpFrame>& frames);
QByteArray withIccProfile(const QByteArray& webp, const QByteArray& profile);
// A lossless WebP of one opaque colour at any size up to 16384 a side, in a few dozen bytes
// written bit by bit: codes of one symbol spend no bits on a pixel. Without a palette, which an
// encoder would choose for one colour, libwebp works on it at four bytes a pixel of its full size.
QByteArray flatLosslessWebp(QSize size, QRgb colour);
// A lossless WebP whose header says it is opaque, with a palette of one colour: its even pixels
// take index 1, outside the palette, and its odd ones that colour.
QByteArray outOfPaletteWebp(QSize size, QRgb colour);
// The WebP made an extended one (when it is not) with `count` empty chunks of a kind no reader
// knows between its header and its picture, as the format allows.
QByteArray withEmptyChunks(const QByteArray& webp, int count);
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
