// Speed of the per-frame work, each figure as a ratio to the memory-traffic
// kernel at the same frame size (see bench_support.h). Run with
// QT_QPA_PLATFORM=offscreen; no display or camera is needed.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <random>

#include "bench/bench_support.h"
#include "platform/bitmap.h"
#include "vision/motion_filter.h"

namespace {

void frameSizes(benchmark::internal::Benchmark* B)
{
    B->ArgNames({"width", "height"});
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}, std::pair{1920, 1080}})
        B->Args({w, h});
}

void randomPixels(TBitmap& B, std::uint32_t Seed)
{
    std::mt19937 rng(Seed);
    for (int y = 0; y < B.Height(); ++y)
        for (int x = 0; x < B.Width(); ++x)
            B.scanLine(y)[x] = rng() | 0xFF000000u;
}

// The yardstick itself; its ratio shows how steady the machine was.
void BM_Traffic(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    bench::Frames f(w, h);
    bench::FrameMeter meter(State, f);
    for (auto _ : State) {
        meter.start();
        bench::trafficKernel(f.A.data(), f.B.data(), f.Out.data(), f.pixels());
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
BENCHMARK(BM_Traffic)->Apply(frameSizes);

// The filter as the pipeline runs it: row by row over the frame.
void BM_MotionFilter(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    bench::Frames f(w, h);
    bench::FrameMeter meter(State, f);
    for (auto _ : State) {
        meter.start();
        for (int y = 0; y < h; ++y) {
            const std::size_t row = std::size_t(y) * std::size_t(w);
            motionFilterRow(f.A.data() + row, f.B.data() + row, f.Out.data() + row, w);
        }
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
BENCHMARK(BM_MotionFilter)->Apply(frameSizes);

// The front camera's mirroring, in place on every frame.
void BM_FlipHorizontal(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    TBitmap frame(w, h);
    randomPixels(frame, 1);
    bench::Frames reference(w, h);
    bench::FrameMeter meter(State, reference);
    for (auto _ : State) {
        meter.start();
        frame.FlipHorizontal();
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
BENCHMARK(BM_FlipHorizontal)->Apply(frameSizes);

// Drawing a frame into the output as the pipeline does: the whole frame
// into the fitted destination, smoothed (an exact copy at equal sizes).
void BM_CanvasDraw(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    const int outW = int(State.range(2)), outH = int(State.range(3));
    TBitmap frame(w, h), output(outW, outH);
    randomPixels(frame, 2);
    // Fit the frame's aspect ratio into the output, centred.
    int dw = outW, dh = h * outW / w;
    if (dh > outH) {
        dw = w * outH / h;
        dh = outH;
    }
    const float left = float((outW - dw) / 2), top = float((outH - dh) / 2);
    const TRectF src(0, 0, float(w), float(h));
    const TRectF dst(left, top, left + float(dw), top + float(dh));
    bench::Frames reference(w, h);
    bench::FrameMeter meter(State, reference);
    for (auto _ : State) {
        meter.start();
        output.Canvas().BeginScene();
        output.Canvas().DrawBitmap(frame, src, dst, 1.0f, false);
        output.Canvas().EndScene();
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
BENCHMARK(BM_CanvasDraw)
    ->ArgNames({"width", "height", "outW", "outH"})
    ->Args({1280, 720, 1000, 562})
    ->Args({1920, 1080, 1920, 1080})
    ->Args({1920, 1080, 640, 360});

}  // namespace

// The pipeline benchmarks need the application object. It lives in main's
// scope so that it is gone before the exit-time destructors run: a
// QApplication destroyed after Qt's own globals crashes the program after
// the figures are printed.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
