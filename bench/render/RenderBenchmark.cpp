// Print rendering speed: the "complete" layer of one print drawn from a 720 px thumbnail (target
// under 4 ms on one core), and the rope's background preparation of 50 "paper" images with its
// two workers (target under 150 ms).

#include "core/Photo.h"
#include "rendering/ClotheslineImagePreparation.h"
#include "rendering/PolaroidRenderer.h"

#include <QCoreApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

using vennimo::ClotheslineImagePreparation;
using vennimo::Photo;
using vennimo::PolaroidRenderer;

constexpr int kPrints = 50;

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

// A 720 x 540 thumbnail with enough detail to cost a real JPEG decode.
QString writeThumbnail(int index) {
    const QString path = folder().filePath(QStringLiteral("thumb-%1.jpg").arg(index));
    QImage image(720, 540, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 540);
    sky.setColorAt(0, QColor(60, 110, 200));
    sky.setColorAt(1, QColor(240, 200, 150));
    p.fillRect(image.rect(), sky);
    for (int i = 0; i < 60; ++i)
        p.fillRect(QRect((i * 37 + index * 11) % 700, (i * 53) % 520, 30, 20),
                   QColor::fromHsv((i * 29) % 360, 160, 200));
    p.end();
    image.save(path, "JPEG", 85);
    return path;
}

Photo photo(int index) {
    Photo result;
    result.id = QStringLiteral("1-%1").arg(index);
    result.path = writeThumbnail(index);
    result.thumbnail = result.path;
    result.modified = 1;
    result.size = 1;
    return result;
}

void completePrint(benchmark::State& state) {
    const Photo print = photo(0);
    // Paper bases and image sizes warm, as on a rope that already shows prints.
    PolaroidRenderer::image(print, PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kComplete, false,
                            false);
    for (auto _ : state) {
        QImage image = PolaroidRenderer::image(print, PolaroidRenderer::defaultSize, 2,
                                               PolaroidRenderer::kComplete, false, false);
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(completePrint)->Unit(benchmark::kMillisecond);

void prepareFiftyPrints(benchmark::State& state) {
    std::vector<Photo> photos;
    for (int i = 0; i < kPrints; ++i)
        photos.push_back(photo(i));
    for (const Photo& p : photos)
        PolaroidRenderer::imageSize(p);
    for (auto _ : state) {
        ClotheslineImagePreparation preparation;
        int next = 0;
        int delivered = 0;
        // The canvas asks again whenever a slot frees up, as it does on each frame.
        const auto refill = [&](auto& self) -> void {
            while (next < kPrints && preparation.request(photos[next], 2, [&](const QImage& image) {
                benchmark::DoNotOptimize(image);
                ++delivered;
                self(self);
            }))
                ++next;
        };
        refill(refill);
        while (delivered < kPrints)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(prepareFiftyPrints)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
