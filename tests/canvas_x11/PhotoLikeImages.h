#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QStringList>

#include <optional>

namespace vennimo::test {

// A picture that reads as a photograph at print size: a landscape with sky, sun, hills, water
// and trees, with soft light and grain. The seed picks colours and shapes.
QImage makePhotoLikeImage(QSize size, int seed);

// A large camera-like JPEG: smooth light under strong grain, costly to decode as camera files are.
// A progressive one is decoded through whole-picture coefficient buffers, as many cameras' and
// editors' files are.
QByteArray grainyJpeg(int width, int height, int seed, bool progressive = false);
// A camera-sized progressive JPEG with strong grain: seconds of decoding, as camera files of some
// phones are, with its bytes read all along.
QByteArray progressiveCameraJpeg();
// The same JPEG as a file of its own: a comment "photo <index>" after the start marker.
QByteArray withComment(const QByteArray& jpeg, int index);
// A photo written row by row through libjpeg, never whole in memory: grey (components 1) or in
// colour at full resolution (components 3, 4:4:4, as editors write at their top qualities),
// progressive or sequential, with soft light under fine grain.
QByteArray streamedJpeg(int width, int height, int seed, int components, bool progressive);
// The same HEIC as `count` files of their own: a free box of its number after the last box.
QList<QByteArray> distinctHeics(const QByteArray& heic, int count);
// HEICs made by heif-enc side by side, each from the JPEG beside it, numbered by withComment, so
// each is a file of its own; answers the HEICs, or nothing when heif-enc failed.
std::optional<QStringList> encodeHeics(const QString& heifEnc, const QByteArray& jpeg, const QString& folder,
                                       const QString& stem, int count);

} // namespace vennimo::test
