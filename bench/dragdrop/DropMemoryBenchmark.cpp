// The peak memory of one drop of 40 copies of a large progressive photo (5640 x 3172, about
// 16 MB), copied in and checked as a drop from a file manager is: a progressive decoding keeps
// the coefficients of the whole picture, some 72 MB, whatever size it draws. Target: under 600 MB.

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

} // namespace
