// One rope physics frame (the rope plus 50 swinging prints; target under 50 microseconds) and
// one full drawing of the rope on a 980 x 452 canvas (target under 1 millisecond).
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "rope/PhotoPendulum.h"

#include <QPainter>
#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace vennimo;

constexpr int kPrints = 50;
constexpr double kFrameSeconds = 1.0 / 60;

struct Motion {
    ClotheslinePhysics rope;
    std::vector<PhotoPendulum> pendulums;
};

Motion movingScene() {
    Motion scene;
    std::vector<double> loads;
    for (int i = 0; i < kPrints; ++i)
        loads.push_back(0.05 + 0.9 * i / (kPrints - 1));
    scene.rope.target = ClotheslinePhysics::equilibrium(loads, 1800);
    scene.rope.pull({{0.3, -20}, {0.32, -18}}, 1);
    scene.rope.initialized = true;
    for (int i = 0; i < kPrints; ++i) {
        PhotoPendulum p;
        p.angle = (i % 2 ? 6.0 : -6.0);
        p.targetAngle = (i % 3) - 1.0;
        p.targetOffset = 0.1;
        p.stiffness = 90;
        p.damping = 8;
        scene.pendulums.push_back(p);
    }
    return scene;
}

void physicsFrame(benchmark::State& state) {
    const Motion start = movingScene();
    Motion scene = start;
    for (auto _ : state) {
        bool moving = scene.rope.step(kFrameSeconds, false);
        for (PhotoPendulum& pendulum : scene.pendulums)
            moving = pendulum.step(kFrameSeconds) || moving;
        benchmark::DoNotOptimize(scene);
        if (!moving) {
            state.PauseTiming();
            scene = start;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(physicsFrame)->Unit(benchmark::kMicrosecond);

void strandDrawing(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    ClotheslineRopeGeometry rope{980, 12, {}};
    std::vector<double> loads;
    for (double x : {0.0, 0.25, 0.5, 0.75, 1.0})
        loads.push_back(rope.supportFraction(x));
    const auto sag = ClotheslinePhysics::equilibrium(loads, rope.usableSpan() + 60);
    rope.displacement.assign(sag.begin(), sag.end());
    QImage canvas(980 * scale, 452 * scale, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(scale);
    ClotheslineRopeGeometry::brassTack();
    for (auto _ : state) {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        rope.draw(painter);
        painter.end();
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
// At 1 and at 2 device pixels per point.
BENCHMARK(strandDrawing)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace
