#pragma once

#include <QString>

#include <chrono>

namespace vennimo::bench {

// A photo-like 4000x3000 JPEG (gradients and noise, so that decoding costs what a camera
// picture costs).
bool writeCameraJpeg(const QString& path, int width, int height, int seed);
double secondsSince(std::chrono::steady_clock::time_point start);

} // namespace vennimo::bench
