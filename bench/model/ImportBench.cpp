// Dropping 20 camera-sized JPEGs (4000x3000) onto the rope, from the drop to all prints committed,
// against copying the same bytes with cp. The import reads, hashes, checks and saves each file
// with an fsync, draws its thumbnail and commits all of them through the journal, so it is
// reported as a ratio to the plain copy (target: within 3x), with the time of each step and the
// CPU time of both sides, which holds up better than the wall clock on a busy machine.
// Exits non-zero when not every print was committed.
// Usage: model_import [RUNS] [WORKDIR]
#include "BenchSupport.h"
#include "model/GalleryModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace vennimo;

namespace {

constexpr int kFiles = 20;
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr double kTargetRatio = 3.0;
constexpr int kWaitMs = 300'000;

using Clock = std::chrono::steady_clock;

double ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Sleeps in the event loop between events: a spinning wait would take a core from the import.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (timer.elapsed() > kWaitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    QCoreApplication app(argc, argv);
    const int runs = std::max(1, app.arguments().value(1).toInt());
    const QString workRoot = app.arguments().value(2, QDir::tempPath());

    QTemporaryDir work(workRoot + QStringLiteral("/vennimo-import-bench-XXXXXX"));
    const QString source = work.path() + "/source";
    QDir().mkpath(source);
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < kFiles; ++i) {
        const QString path = QStringLiteral("%1/camera-%2.jpg").arg(source).arg(i, 2, 10, QLatin1Char('0'));
        if (!bench::writeCameraJpeg(path, kWidth, kHeight, i + 1)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        files << path;
        bytes += QFileInfo(path).size();
    }
    std::printf("import %d dropped %dx%d JPEGs (%.1f MB in all)\n", kFiles, kWidth, kHeight, bytes / 1e6);

    bool ok = true;
    QList<double> ratios;
    for (int run = 0; run < runs; ++run) {
        // Each run starts from the same state: the copies of earlier runs would otherwise pile up in
        // the page cache, and whichever side runs once memory is short pays for reclaiming it.
        if (run > 0) {
            QDir(work.path() + QStringLiteral("/storage-%1").arg(run - 1)).removeRecursively();
            QDir(work.path() + QStringLiteral("/cp-%1").arg(run - 1)).removeRecursively();
        }
        const QString storage = work.path() + QStringLiteral("/storage-%1").arg(run);
        QDir().mkpath(storage);
        Clock::time_point saved, prepared;
        GalleryModel::Options options;
        options.importStepHook = [&](ExhibitionImportStep step) {
            if (step == ExhibitionImportStep::FilesSaved)
                saved = Clock::now();
            else if (step == ExhibitionImportStep::ReferencesPrepared)
                prepared = Clock::now();
        };
        GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false,
                           std::move(options));
        ExternalImageDrop::Snapshot snapshot;
        for (const QString& file : std::as_const(files))
            snapshot.items.append({ExternalImageDrop::Source::file(file, true)});

        std::optional<bool> imported;
        const double cpuStart = bench::processCpuSeconds();
        const auto start = Clock::now();
        model.importExhibitionDrop(snapshot, 0.5, [&](bool result) { imported = result; });
        ok = waitFor([&] { return imported.has_value(); }) && ok;
        const auto committed = Clock::now();
        const double cpu = (bench::processCpuSeconds() - cpuStart) * 1000;
        ok = imported.value_or(false) && model.exhibition().references().size() == kFiles && ok;

        const QString copies = work.path() + QStringLiteral("/cp-%1").arg(run);
        QDir().mkpath(copies);
        const double copyCpuStart = bench::childrenCpuSeconds();
        const auto copyStart = Clock::now();
        ok = QProcess::execute(QStringLiteral("cp"), QStringList(files) << copies) == 0 && ok;
        const double copy = ms(Clock::now() - copyStart);
        const double copyCpu = (bench::childrenCpuSeconds() - copyCpuStart) * 1000;

        const double total = ms(committed - start);
        ratios << total / copy;
        std::printf("run %d: drop to all committed %.0f ms (saved %.0f, prepared %.0f, committed %.0f; "
                    "%.0f ms CPU); cp %.0f ms (%.0f ms CPU); ratio %.1fx\n",
                    run + 1, total, ms(saved - start), ms(prepared - saved), ms(committed - prepared), cpu,
                    copy, copyCpu, total / copy);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("median ratio %.1fx (target within %.0fx, %s)\n", median, kTargetRatio,
                median <= kTargetRatio ? "met" : "missed");
    if (!ok) {
        std::fprintf(stderr, "not every print was committed\n");
        return 1;
    }
    return 0;
}
