// What hostile and large JPEGs cost to look at: the header read and the decoding to a print's
// size of a file of many empty segments before its frame, of many empty scans over a
// 10000 x 10000 picture, and of a large progressive photo. Targets: a header read of a few
// milliseconds whatever the segments, one decoding at most about a second of CPU and 300 MB.
// Each case prints whether the picture was refused and how far memory rose for one decoding.

#include "HostileJpegs.h"
#include "platform/AllocatorPolicy.h"
#include "platform/ImageDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using vennimo::ImageDecoder;
namespace bench = vennimo::bench;

constexpr int kPrintPixels = 256;

void setPeak(benchmark::State& state, const std::function<bool()>& work) {
    // As the application has it, so that freed pictures leave the process as they do there.
    vennimo::AllocatorPolicy::apply();
    const auto peak = bench::peakMegabytesOf(work);
    state.counters["peak_MB"] = peak.value_or(-1);
}

void markerFloodHeader(benchmark::State& state) {
    const QByteArray jpeg = bench::markerFloodJpeg(int(state.range(0)));
    bool refused = false;
    for (auto _ : state)
        refused = !ImageDecoder::readHeader(jpeg).ok();
    state.counters["refused"] = refused;
}
BENCHMARK(markerFloodHeader)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(300'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void markerFloodDecode(benchmark::State& state) {
    const QByteArray jpeg = bench::markerFloodJpeg(int(state.range(0)));
    bool refused = false;
    for (auto _ : state)
        refused = !ImageDecoder::decodeScaled(jpeg, kPrintPixels).ok();
    state.counters["refused"] = refused;
}
BENCHMARK(markerFloodDecode)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(300'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Arguments: components, scans, arithmetic coding.
void scanFloodDecode(benchmark::State& state) {
    const QByteArray jpeg =
        bench::scanFloodJpeg(int(state.range(0)), int(state.range(1)), state.range(2) != 0);
    bool refused = false;
    for (auto _ : state)
        refused = !ImageDecoder::decodeScaled(jpeg, kPrintPixels).ok();
    state.counters["refused"] = refused;
    state.counters["bytes"] = double(jpeg.size());
    setPeak(state, [&] { return ImageDecoder::decodeScaled(jpeg, kPrintPixels).ok() || true; });
}
BENCHMARK(scanFloodDecode)
    ->Args({3, 64, 1})
    ->Args({3, 64, 0})
    ->Args({1, 64, 1})
    // Just within the bounds: the most a crafted picture of empty scans may cost.
    ->Args({1, 20, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

const QString& progressivePhoto() {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    if (!QFile::exists(path))
        bench::writeProgressivePhoto(path, 5640, 3172, 97);
    return path;
}

void progressivePhotoHeader(benchmark::State& state) {
    const QString& path = progressivePhoto();
    for (auto _ : state)
        benchmark::DoNotOptimize(ImageDecoder::readHeader(path));
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}
BENCHMARK(progressivePhotoHeader)->Unit(benchmark::kMillisecond);

void progressivePhotoDecode(benchmark::State& state) {
    const QString& path = progressivePhoto();
    bool ok = false;
    for (auto _ : state)
        ok = ImageDecoder::decodeScaled(path, kPrintPixels).ok();
    state.counters["decoded"] = ok;
    setPeak(state, [&] { return ImageDecoder::decodeScaled(path, kPrintPixels).ok(); });
}
BENCHMARK(progressivePhotoDecode)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
