#pragma once

// What every benchmark shares: a count of heap allocations, test frames,
// and the memory-traffic kernel (read two frames, write one) that each
// figure is divided by. A ratio to that kernel, measured alongside, stays
// comparable across machines where absolute times do not.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// Heap allocations (malloc and friends, so operator new too) made by the
// whole process so far.
std::uint64_t allocationCount();

// Two frames of random opaque pixels and an output frame, rows packed.
struct Frames {
    Frames(int Width, int Height);
    std::size_t pixels() const { return A.size(); }

    int Width;
    int Height;
    std::vector<std::uint32_t> A;
    std::vector<std::uint32_t> B;
    std::vector<std::uint32_t> Out;
};

// Out[i] = A[i] ^ B[i]: as little work as a pixel kernel can do, vectorised
// as widely as the processor allows.
void trafficKernel(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, std::size_t Count);

// Times the work of each iteration of a benchmark loop, and after it (with
// the harness's clock paused) one traffic-kernel frame over Reference, so
// that both see the same state of a machine shared with other work:
//   for (auto _ : State) { meter.start(); work(); meter.stop(); }
//   meter.report();
// reports
//   "ratio_to_traffic"  median time of the work / median traffic-kernel time
//   "allocs_per_frame"  heap allocations made by the work, per iteration
// Give the work's own frames as Reference where it has them: the two then
// also find the same data in the caches.
class FrameMeter {
public:
    FrameMeter(benchmark::State& State, Frames& Reference);
    void start();
    void stop();
    void report();

private:
    benchmark::State& m_state;
    Frames& m_reference;
    std::vector<double> m_work;     // ns per iteration, reserved up front
    std::vector<double> m_traffic;  // so that recording never allocates
    std::int64_t m_start = 0;
    std::uint64_t m_allocationsAtStart = 0;
    std::uint64_t m_allocations = 0;
};

std::int64_t nowNs();
double median(std::vector<double> Values);

}  // namespace bench
