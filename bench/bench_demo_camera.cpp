// What a demo camera frame costs (DemoScene::render is what the demo
// source's writeRgb32 runs on the UI thread), as a ratio to the
// memory-traffic kernel at the same frame size, and drawing a scene's still
// background (once per start of a camera).

#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "platform/bitmap.h"
#include "platform/camera/demo_camera_source.h"

namespace {

// A demo camera frame: the still background copied and the moving things
// and the noise drawn on top, straight into the bitmap.
void BM_DemoFrame(benchmark::State& State)
{
    const auto kind = static_cast<TCameraKind>(State.range(0));
    const int w = int(State.range(1)), h = int(State.range(2));
    const DemoScene scene(kind, w, h);
    TBitmap bitmap(w, h);
    bench::Frames reference(w, h);
    bench::FrameMeter meter(State, reference);
    std::uint32_t number = 0;
    for (auto _ : State) {
        meter.start();
        scene.render(reinterpret_cast<std::uint8_t*>(bitmap.scanLine(0)), bitmap.image().bytesPerLine(),
                     number / 30.0, number);
        benchmark::ClobberMemory();
        meter.stop();
        ++number;
    }
    meter.report();
}
BENCHMARK(BM_DemoFrame)->ArgNames({"kind", "width", "height"})->Apply([](benchmark::internal::Benchmark* B) {
    for (const TCameraKind kind : {TCameraKind::FrontCamera, TCameraKind::BackCamera})
        for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}, std::pair{1920, 1080}})
            B->Args({int(kind), w, h});
});

void BM_DemoBackground(benchmark::State& State)
{
    for (auto _ : State) {
        const DemoScene scene(static_cast<TCameraKind>(State.range(0)), 1920, 1080);
        benchmark::DoNotOptimize(&scene);
    }
}
BENCHMARK(BM_DemoBackground)
    ->Arg(int(TCameraKind::FrontCamera))
    ->Arg(int(TCameraKind::BackCamera))
    ->Unit(benchmark::kMillisecond);

}  // namespace
