#pragma once

#include <QImage>
#include <QSize>

namespace vennimo::test {

// A picture that reads as a photograph at print size: a landscape with sky, sun, hills, water
// and trees, with soft light and grain. The seed picks colours and shapes.
QImage makePhotoLikeImage(QSize size, int seed);

} // namespace vennimo::test
