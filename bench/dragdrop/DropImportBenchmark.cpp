// How long the drop import's steps take on large inputs. Saving must not decode a bitmap in full
// (only its header and a 32-pixel test image), so a 24-megapixel JPEG should save in tens of
// milliseconds, most of it hashing; the snapshot of a browser drag must stay cheap since it runs
// in the drop handler on the main thread. The drag check runs on every drag move: after its first
// look at a drag it must answer in under 0.05 ms.
#include "dragdrop/ExternalImageDrop.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
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

// A file manager's drag of 100 files with the one photo last, as the drop target sees it.
std::unique_ptr<QMimeData> fileManagerDrag(const QTemporaryDir& folder) {
    QByteArray uris;
    for (int i = 0; i < 100; ++i) {
        const QString path =
            folder.filePath(i == 99 ? QStringLiteral("photo.jpg") : QStringLiteral("notes-%1.txt").arg(i));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(i == 99 ? largeJpeg().left(4096) : QByteArray("text"));
        uris += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    }
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"), uris);
    data->setData(QStringLiteral("text/plain"), "notes");
    return data;
}

void CanReadNewDrag(benchmark::State& state) {
    QTemporaryDir folder;
    const auto data = fileManagerDrag(folder);
    for (auto _ : state) {
        vennimo::ExternalImageDrop::beginDrag();
        benchmark::DoNotOptimize(vennimo::ExternalImageDrop::canRead(*data));
    }
    state.SetLabel("first look at a drag");
}
BENCHMARK(CanReadNewDrag)->Unit(benchmark::kMicrosecond);

void CanReadSameDrag(benchmark::State& state) {
    QTemporaryDir folder;
    const auto data = fileManagerDrag(folder);
    vennimo::ExternalImageDrop::beginDrag();
    for (auto _ : state)
        benchmark::DoNotOptimize(vennimo::ExternalImageDrop::canRead(*data));
    state.SetLabel("each drag move; target < 0.05 ms (50 us)");
}
BENCHMARK(CanReadSameDrag)->Unit(benchmark::kMicrosecond);

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
