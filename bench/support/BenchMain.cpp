#include <QGuiApplication>
#include <benchmark/benchmark.h>

// The main of every Google Benchmark program: images and fonts need a Gui application, and the
// offscreen platform lets the programs run without a display.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
