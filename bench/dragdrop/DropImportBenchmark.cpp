// How long the drop import's steps take on large inputs. Saving must not decode a bitmap in full
// (only its header and a 32-pixel test image), so a 24-megapixel JPEG should save in tens of
// milliseconds, most of it hashing; the snapshot of a browser drag must stay cheap since it runs
// in the drop handler on the main thread.
#include "dragdrop/ExternalImageDrop.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QByteArray encoded(int width, int height, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

const QByteArray& largeJpeg() {
    static const QByteArray bytes = encoded(6000, 4000, "jpeg");
    return bytes;
}

void SaveLargeJpeg(benchmark::State& state) {
    QTemporaryDir storage;
    for (auto _ : state) {
        auto saved = vennimo::ExternalImageDrop::save(largeJpeg(), storage.path());
        if (!saved.ok())
            state.SkipWithError("save failed");
        benchmark::DoNotOptimize(saved);
    }
    state.SetBytesProcessed(state.iterations() * largeJpeg().size());
}
BENCHMARK(SaveLargeJpeg)->Unit(benchmark::kMillisecond);

void SnapshotBrowserDrag(benchmark::State& state) {
    QMimeData data;
    data.setData(QStringLiteral("application/octet-stream"), largeJpeg());
    data.setData(QStringLiteral("text/uri-list"), "https://example.invalid/large.jpg\r\n");
    data.setData(QStringLiteral("image/png"), encoded(2000, 2000, "png"));
    for (auto _ : state) {
        auto snapshot = vennimo::ExternalImageDrop::snapshot(
            data, [](const QMimeData&) { return QList<std::shared_ptr<vennimo::FilePromiseReceiver>>{}; });
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(SnapshotBrowserDrag)->Unit(benchmark::kMicrosecond);

void DecodeDataUrl(benchmark::State& state) {
    const QByteArray url = "data:image/jpeg;base64," + largeJpeg().toBase64();
    for (auto _ : state) {
        auto decoded = vennimo::ExternalImageDrop::decodeDataUrl(url);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(state.iterations() * url.size());
}
BENCHMARK(DecodeDataUrl)->Unit(benchmark::kMillisecond);

} // namespace
