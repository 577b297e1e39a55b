// Rope canvas speed: one frame with 50 swinging prints (physics, slot sync and painting into a
// 980 x 518 image at scale 2, the papers at scale 2 too; target under 8 ms of the canvas thread),
// and the timer wake-ups of a settled rope over 2 s (target 0). A timing program: prints its
// figures, among them the CPU time of the whole process, since the painting runs on helper
// threads as well.

#include "BenchSupport.h"
#include "canvas/ClotheslineCanvasView.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "rendering/PolaroidRenderer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kPrints = 50;
constexpr QSize kCanvasSize{980, 518};
constexpr double kScale = 2;
constexpr int kMeasuredFrames = 240;
constexpr double kFrameSeconds = 1.0 / 60;

void writePicture(const QString& path, int seed) {
    QImage image(960, 720, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 720);
    g.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 120, 230));
    g.setColorAt(1, QColor::fromHsv((seed * 37 + 90) % 360, 160, 120));
    p.fillRect(image.rect(), g);
    p.setBrush(QColor::fromHsv((seed * 53) % 360, 200, 220));
    p.drawEllipse(QPointF(300 + seed * 7 % 400, 360), 160, 120);
    p.end();
    image.save(path, "JPEG", 85);
}

// Counts timer events delivered anywhere in the process.
class TimerCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8() + "/" + name);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A screen at scale 2, so the canvas prepares and draws its papers at the scale of the frame.
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ReduceMotion::setReader([] { return std::optional<bool>(false); });

    const QString source = home.path() + "/pictures";
    const QString storage = home.path() + "/storage";
    QDir().mkpath(source);
    QDir().mkpath(storage);
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storage), false);
    QElapsedTimer wait;
    wait.start();
    // The first scan is the baseline; pictures written after it arrive and hang.
    model.refresh(std::nullopt, false);
    while (model.appliedScanCount() == 0 && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (int i = 0; i < kPrints; ++i)
        writePicture(QString("%1/p%2.jpg").arg(source).arg(i, 2, 10, QChar('0')), i);
    model.refresh(std::nullopt, false);
    while ((model.scanInFlight() || model.photos().size() < kPrints) && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QList<ClotheslinePlacementUpdate> updates;
    for (int i = 0; i < model.photos().size(); ++i)
        updates.append({model.photos()[i], 0, double(i) / (kPrints - 1)});
    if (model.photos().size() != kPrints || !model.clotheslinePlacements().setPositions(updates)) {
        std::fprintf(stderr, "bench_canvas: could not set up %d prints\n", kPrints);
        return 1;
    }
    for (const Photo& photo : model.photos())
        PolaroidRenderer::storePrepared(PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, kScale,
                                                                PolaroidRenderer::kPaper, false, false),
                                        photo, kScale);

    QWidget window;
    window.resize(kCanvasSize);
    auto* canvas = new ClotheslineCanvasView(&window);
    canvas->resize(kCanvasSize);
    window.show();
    QCoreApplication::processEvents();
    HangingStyle style{false, false};
    canvas->refresh(&model, QSizeF(kCanvasSize), false, style, {}, {});
    canvas->stopPhysics();

    QImage target(kCanvasSize * kScale, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(kScale);
    DisplayLink link([](DisplayLink&) {});
    double now = 1;
    std::vector<double> frames;
    std::vector<double> physicsOnly;
    std::vector<double> processFrames;
    std::vector<double> wallFrames;
    QElapsedTimer wall;
    int restyles = 0;
    while (int(frames.size()) < kMeasuredFrames) {
        if (canvas->photos().size() != kPrints || restyles > kMeasuredFrames) {
            std::fprintf(stderr, "bench_canvas: the prints do not swing\n");
            return 1;
        }
        if (canvas->pendulums().size() < std::size_t(kPrints)) {
            style.offCenter = !style.offCenter; // a new style swings every print to its new pose
            canvas->refresh(&model, QSizeF(kCanvasSize), false, style, {}, {});
            canvas->stopPhysics();
            ++restyles;
            continue;
        }
        now += kFrameSeconds;
        // CPU time of this thread: wall-clock time says little on a machine shared by builds.
        const double start = bench::threadCpuSeconds();
        const double processStart = bench::processCpuSeconds();
        wall.start();
        link.deliverFrame(now, now + kFrameSeconds);
        canvas->physicsFrame(link);
        const double physicsMs = (bench::threadCpuSeconds() - start) * 1000;
        {
            QPainter painter(&target);
            canvas->drawContent(painter, QRegion(QRect(QPoint(0, 0), kCanvasSize)));
        }
        frames.push_back((bench::threadCpuSeconds() - start) * 1000);
        processFrames.push_back((bench::processCpuSeconds() - processStart) * 1000);
        wallFrames.push_back(double(wall.nsecsElapsed()) / 1e6);
        physicsOnly.push_back(physicsMs);
    }
    double sum = 0;
    for (double f : frames)
        sum += f;
    std::printf(
        "frame with %d swinging prints (physics + paint, %dx%d at scale %.0f, papers at scale %.0f), "
        "thread CPU time: mean %.2f ms, median %.2f ms, p95 %.2f ms (target < 8 ms); physics and slot "
        "sync alone: median %.2f ms; %d restyles\n",
        kPrints, kCanvasSize.width(), kCanvasSize.height(), kScale, canvas->paperScale(),
        sum / double(frames.size()), percentile(frames, 0.5), percentile(frames, 0.95),
        percentile(physicsOnly, 0.5), restyles);
    std::printf("the same frames in CPU time of the whole process (helper threads included): median %.2f ms, "
                "p95 %.2f ms; wall-clock time: median %.2f ms, p95 %.2f ms\n",
                percentile(processFrames, 0.5), percentile(processFrames, 0.95), percentile(wallFrames, 0.5),
                percentile(wallFrames, 0.95));
    target.save(home.path() + "/frame.png");

    // Idle: let the real display link run until everything rests, then listen for 2 s.
    canvas->updatePhysics();
    wait.restart();
    while (canvas->physicsRunning() && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    const bool settled = !canvas->physicsRunning();
    TimerCounter counter;
    app.installEventFilter(&counter);
    const int framesBefore = canvas->physicsFrameCount();
    QEventLoop idle;
    QTimer::singleShot(2000, &idle, &QEventLoop::quit);
    idle.exec();
    app.removeEventFilter(&counter);
    std::printf("settled after %.2f s: %s; idle over 2 s: %d canvas frames, %d timer events in the process "
                "(the 2 s timer itself is one)\n",
                double(wait.elapsed()) / 1000, settled ? "yes" : "no",
                canvas->physicsFrameCount() - framesBefore, counter.count);
    return 0;
}
