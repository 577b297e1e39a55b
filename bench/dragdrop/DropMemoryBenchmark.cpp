// The peak memory of one drop of 40 copies of a large progressive photo (5640 x 3172, about
// 16 MB), copied in and checked as a drop from a file manager is: a progressive decoding keeps
// the coefficients of the whole picture, some 72 MB, whatever size it draws. Then the same for 40
// distinct 6000 x 4000 HEICs, which libheif decodes whole, some 210 MB each, whatever size is
// asked (skipped without heif-enc). Target: under 600 MB.

#include "BenchSupport.h"
#include "HostileJpegs.h"
#include "dragdrop/ExternalImageDrop.h"
#include "platform/AllocatorPolicy.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <thread>

namespace {

using vennimo::ExternalImageDrop;
namespace bench = vennimo::bench;

constexpr int kPhotos = 40;

void dropFortyProgressivePhotos(benchmark::State& state) {
    // As the application has it, so that freed pictures leave the process as they do there.
    vennimo::AllocatorPolicy::apply();
    QTemporaryDir folder;
    const QString first = folder.filePath(QStringLiteral("photo-0.jpg"));
    if (!bench::writeProgressivePhoto(first, 5640, 3172, 97)) {
        state.SkipWithError("no photo");
        return;
    }
    ExternalImageDrop::Snapshot snapshot;
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = folder.filePath(QStringLiteral("photo-%1.jpg").arg(i));
        if (i > 0)
            QFile::copy(first, path);
        snapshot.items.append({ExternalImageDrop::Source::file(path, true)});
    }
    ExternalImageDrop::ImportOptions options;
    options.thumbnailPixels = 720;
    int saved = 0;
    const auto drop = [&] {
        QTemporaryDir storage;
        std::thread([&] {
            // Copies of one photo are saved once, under its digest: each item must succeed.
            saved = kPhotos - ExternalImageDrop::materialize(snapshot, storage.path(), options).failures;
        }).join();
        return saved == kPhotos;
    };
    for (auto _ : state)
        drop();
    state.counters["saved"] = saved;
    state.counters["file_MB"] = double(QFile(first).size()) / 1e6;
    state.counters["peak_MB"] = bench::peakMegabytesOf(drop).value_or(-1);
}
BENCHMARK(dropFortyProgressivePhotos)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void dropFortyHeics(benchmark::State& state) {
    vennimo::AllocatorPolicy::apply();
    QTemporaryDir folder;
    const QString made = folder.filePath(QStringLiteral("made.heic"));
    QFile heic(made);
    if (!bench::writeCameraHeics({made}, 6000, 4000) || !heic.open(QIODevice::ReadOnly)) {
        state.SkipWithError("no HEIC: heif-enc is missing or failed");
        return;
    }
    const QByteArray bytes = heic.readAll();
    ExternalImageDrop::Snapshot snapshot;
    for (int i = 0; i < kPhotos; ++i) {
        // Each a file of its own: a free box of its number after the last box.
        const QByteArray number = QByteArray::number(i);
        const QByteArray size =
            QByteArray::fromHex(QByteArray::number(8 + number.size(), 16).rightJustified(8, '0'));
        const QString path = folder.filePath(QStringLiteral("IMG_%1.heic").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes + size + "free" + number) < 0) {
            state.SkipWithError("cannot write");
            return;
        }
        snapshot.items.append({ExternalImageDrop::Source::file(path, true)});
    }
    ExternalImageDrop::ImportOptions options;
    options.thumbnailPixels = 720;
    int saved = 0;
    const auto drop = [&] {
        QTemporaryDir storage;
        std::thread([&] {
            saved = kPhotos - ExternalImageDrop::materialize(snapshot, storage.path(), options).failures;
        }).join();
        return saved > 0;
    };
    for (auto _ : state)
        drop();
    state.counters["saved"] = saved;
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
    state.counters["peak_MB"] = bench::peakMegabytesOf(drop).value_or(-1);
}
BENCHMARK(dropFortyHeics)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
