// What a demo camera frame costs on the UI thread (DemoScene::render is what
// CameraFrame::writeRgb32 runs), as a ratio to a memory-traffic kernel over
// the same frame size: read two frames, write one.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/camera/demo_camera_source.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Nanoseconds for one pass of the reference kernel, best of a few runs.
double memoryKernelNs()
{
    static const double ns = [] {
        const std::size_t n = std::size_t(kWidth) * kHeight;
        std::vector<std::uint32_t> a(n, 1), b(n, 2), c(n);
        double best = 1e18;
        for (int run = 0; run < 20; ++run) {
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t i = 0; i < n; ++i)
                c[i] = a[i] ^ b[i];
            benchmark::DoNotOptimize(c.data());
            benchmark::ClobberMemory();
            best = std::min(best, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    }();
    return ns;
}

void BM_DemoFrame(benchmark::State& state)
{
    const auto kind = static_cast<TCameraKind>(state.range(0));
    const DemoScene scene(kind, kWidth, kHeight);
    std::vector<std::uint32_t> bitmap(std::size_t(kWidth) * kHeight);
    std::uint32_t number = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        scene.render(reinterpret_cast<std::uint8_t*>(bitmap.data()), kWidth * 4, number / 30.0, number);
        ++number;
        benchmark::DoNotOptimize(bitmap.data());
        benchmark::ClobberMemory();
    }
    const double frameNs =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    state.counters["vs_memory_kernel"] = frameNs / memoryKernelNs();
}

// Drawing the still background: once per start of a camera.
void BM_DemoBackground(benchmark::State& state)
{
    for (auto _ : state) {
        const DemoScene scene(static_cast<TCameraKind>(state.range(0)), kWidth, kHeight);
        benchmark::DoNotOptimize(&scene);
    }
}

}  // namespace

BENCHMARK(BM_DemoFrame)->Arg(int(TCameraKind::FrontCamera))->Arg(int(TCameraKind::BackCamera))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoBackground)->Arg(int(TCameraKind::FrontCamera))->Arg(int(TCameraKind::BackCamera))->Unit(benchmark::kMillisecond);
