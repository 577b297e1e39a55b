// Grid screen speed and memory over 5,000 photos at scale 2: one full viewport of cards painted
// once their thumbnails are cached (target under 16 ms), a scroll from top to bottom where each
// frame takes in the thumbnails that finished decoding meanwhile (target: no frame over 33 ms),
// and the resident memory at its peak and at rest afterwards (target under 200 MB). Each figure is printed
// beside an empty QListView of 5,000 plain text rows in the same viewport, painted and scrolled the same way:
// the floor of what a Qt view costs here. Frames are painted into the window's backing store as the window
// itself paints them: the whole viewport for the paint figure, and while scrolling whatever the event loop
// has to paint after the scroll bar moved. Times are the main thread's own CPU time, which holds up on a
// machine shared with builds; the wall-clock figures follow.

#include "BenchSupport.h"
#include "grid/NormalGalleryView.h"
#include "grid/PhotoGridView.h"
#include "model/GalleryModel.h"
#include "platform/AllocatorPolicy.h"
#include "platform/ReduceMotion.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kPhotos = 5000;
constexpr QSize kWindow{1280, 800};
constexpr double kScale = 2;
constexpr int kPaints = 60;
// A brisk wheel scroll: about ten rows a second at 60 frames a second.
constexpr int kScrollStep = 40;

struct Figures {
    std::vector<double> cpu;
    std::vector<double> wall;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

double maximum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The process's resident memory now ("VmRSS:") or at its highest so far ("VmHWM:").
double residentMegabytes(const QByteArray& field = "VmRSS:") {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

// A picture like a camera thumbnail: a gradient with a shape, different for each seed.
QImage thumbnailPicture(int seed, int pixels) {
    const bool tall = seed % 3 == 1;
    const QSize size = tall ? QSize(pixels * 3 / 4, pixels) : QSize(pixels, pixels * 3 / 4);
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 110, 235));
    g.setColorAt(1, QColor::fromHsv((seed * 37 + 80) % 360, 170, 110));
    p.fillRect(image.rect(), g);
    p.setBrush(QColor::fromHsv((seed * 53) % 360, 190, 210));
    p.drawEllipse(QPointF(size.width() * 0.6, size.height() * 0.4), size.width() / 5.0, size.width() / 6.0);
    return image;
}

// Paints the whole widget into its window's backing store at once, as an exposed window would.
void paint(QWidget& widget) {
    widget.repaint();
}

template <class Step>
Figures measure(int frames, Step step) {
    Figures figures;
    QElapsedTimer wall;
    for (int i = 0; i < frames; ++i) {
        const double cpu = bench::threadCpuSeconds();
        wall.start();
        if (!step(i))
            break;
        figures.cpu.push_back((bench::threadCpuSeconds() - cpu) * 1000);
        figures.wall.push_back(double(wall.nsecsElapsed()) / 1e6);
    }
    return figures;
}

void report(const char* what, const Figures& grid, const Figures& floor, const char* target) {
    std::printf("%-34s grid median %7.2f ms  p99 %7.2f  max %7.2f | floor median %6.2f  max %6.2f  (%s)\n",
                what, percentile(grid.cpu, 0.5), percentile(grid.cpu, 0.99), maximum(grid.cpu),
                percentile(floor.cpu, 0.5), maximum(floor.cpu), target);
    std::printf("%-34s   wall median %7.2f ms  p99 %7.2f  max %7.2f | floor median %6.2f  max %6.2f\n", "",
                percentile(grid.wall, 0.5), percentile(grid.wall, 0.99), maximum(grid.wall),
                percentile(floor.wall, 0.5), maximum(floor.wall));
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8() + "/" + name);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    AllocatorPolicy::apply();
    QApplication app(argc, argv);
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    const double startMegabytes = residentMegabytes();

    // The floor: a plain list of 5,000 text rows, gone with its window before the grid comes.
    QStringList rows;
    for (int i = 0; i < kPhotos; ++i)
        rows.append(QString("IMG_%1.jpg").arg(i, 5, 10, QChar('0')));
    double floorMegabytes = 0;
    Figures floorPaint;
    Figures floorScroll;
    {
        QStringListModel rowModel(rows);
        QListView list;
        list.setModel(&rowModel);
        list.setUniformItemSizes(true);
        list.resize(kWindow);
        list.show();
        QCoreApplication::processEvents();
        floorMegabytes = residentMegabytes();
        floorPaint = measure(kPaints, [&](int) {
            paint(*list.viewport());
            return true;
        });
        QScrollBar* listBar = list.verticalScrollBar();
        list.verticalScrollBar()->setSingleStep(1);
        floorScroll = measure(1 << 30, [&](int) {
            if (listBar->value() >= listBar->maximum())
                return false;
            listBar->setValue(listBar->value() + std::max(1, kScrollStep / 20));
            // The window paints and flushes what changed, as after a wheel event.
            QCoreApplication::processEvents();
            return true;
        });
    }

    // The grid over a model of 5,000 photos whose thumbnails come from a loader of its own.
    const QString storage = home.path() + "/storage";
    QDir().mkpath(storage);
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false);
    QList<Photo> photos;
    for (int i = 0; i < kPhotos; ++i) {
        Photo photo;
        photo.id = QString("BENCH-%1").arg(i);
        photo.path = QString("%1/pictures/%2").arg(home.path(), rows.at(i));
        photo.source = QString::fromUtf8("下载");
        photo.added = 800000000 - i;
        photo.modified = 800000000 - i;
        photo.size = 1000000 + i;
        photo.thumbnail = QString("%1/thumbnails/%2.jpg").arg(storage).arg(i);
        photo.thumbnailModified = photo.modified;
        photos.append(photo);
    }
    model.setPhotos(photos);
    GalleryThumbnailLoader loader([](const Photo& photo, int pixels, const auto&) {
        return thumbnailPicture(photo.id.mid(6).toInt(), pixels);
    });
    NormalGalleryView view(
        model, [] {}, [] {});
    PhotoGridView* grid = view.grid();
    grid->setThumbnailSource(
        {[&](const Photo& photo, double scale) { return loader.cachedImage(photo, scale); },
         [&](const Photo& photo, double scale, const std::shared_ptr<CancellationToken>& token,
             GalleryThumbnailLoader::Completion completion) {
             loader.load(photo, scale, token, completion);
         }});
    view.resize(kWindow);
    view.show();
    QCoreApplication::processEvents();
    const auto settled = [&] {
        for (GridThumbnailCell* cell : grid->cells())
            if (cell->face().phase == GridThumbnailCell::Phase::loading || cell->fading())
                return false;
        return !grid->cells().isEmpty();
    };
    QElapsedTimer wait;
    wait.start();
    while (!settled() && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!settled()) {
        std::fprintf(stderr, "bench_grid: the first thumbnails never arrived\n");
        return 1;
    }
    const Figures gridPaint = measure(kPaints, [&](int) {
        paint(*grid->viewport());
        return true;
    });
    QScrollBar* gridBar = grid->verticalScrollBar();
    const Figures gridScroll = measure(1 << 30, [&](int) {
        if (gridBar->value() >= gridBar->maximum())
            return false;
        gridBar->setValue(gridBar->value() + kScrollStep);
        QCoreApplication::processEvents();
        return true;
    });
    const double peakMegabytes = residentMegabytes("VmHWM:");
    // At rest the grid lets its paint buffer go; what stays is what a user's idle grid holds.
    QElapsedTimer rest;
    rest.start();
    while (rest.elapsed() < 1000 * (PhotoGridView::kBufferLinger.count() + 1))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double gridMegabytes = residentMegabytes();

    std::printf("bench_grid: %d photos, %d x %d viewport at scale %.0f, %d columns, %zu scroll frames "
                "(floor %zu frames of %d rows of text)\n",
                kPhotos, kWindow.width(), kWindow.height(), kScale, grid->gridLayout().columns,
                gridScroll.cpu.size(), floorScroll.cpu.size(), kPhotos);
    report("full viewport paint, cached", gridPaint, floorPaint, "target < 16 ms");
    report("scroll top to bottom, per frame", gridScroll, floorScroll, "target: none > 33 ms");
    std::printf("%-34s grid %7.1f MB | floor %6.1f MB | empty process %6.1f MB  (target < 200 MB)\n",
                "resident memory at rest", gridMegabytes, floorMegabytes, startMegabytes);
    std::printf("%-34s grid %7.1f MB  (target < 200 MB)\n", "resident memory at its peak", peakMegabytes);
    return 0;
}
