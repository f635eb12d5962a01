#include "bench/bench_support.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>

// Counting allocations: the program's malloc family wraps glibc's, so every
// allocation of the process (Qt's image buffers included, and operator new,
// which calls malloc) passes through here. free stays glibc's own.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<std::uint64_t> allocations{0};

void countAllocation()
{
    allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(std::size_t Size)
{
    countAllocation();
    return __libc_malloc(Size);
}

void* calloc(std::size_t N, std::size_t Size)
{
    countAllocation();
    return __libc_calloc(N, Size);
}

void* realloc(void* P, std::size_t Size)
{
    countAllocation();
    return __libc_realloc(P, Size);
}

void* memalign(std::size_t Alignment, std::size_t Size)
{
    countAllocation();
    return __libc_memalign(Alignment, Size);
}

void* aligned_alloc(std::size_t Alignment, std::size_t Size)
{
    countAllocation();
    return __libc_memalign(Alignment, Size);
}

int posix_memalign(void** Result, std::size_t Alignment, std::size_t Size)
{
    countAllocation();
    void* p = __libc_memalign(Alignment, Size);
    if (!p)
        return ENOMEM;
    *Result = p;
    return 0;
}
}

namespace bench {

std::uint64_t allocationCount()
{
    return allocations.load(std::memory_order_relaxed);
}

Frames::Frames(int Width, int Height) : Width(Width), Height(Height)
{
    const std::size_t n = std::size_t(Width) * std::size_t(Height);
    A.resize(n);
    B.resize(n);
    Out.assign(n, 0);
    std::mt19937 rng(std::uint32_t(Width * 31 + Height));
    for (std::size_t i = 0; i < n; ++i) {
        A[i] = rng() | 0xFF000000u;
        B[i] = rng() | 0xFF000000u;
    }
}

namespace {

__attribute__((target("avx2"))) void xorAvx2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out,
                                             std::size_t Count)
{
    std::size_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(B + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), _mm256_xor_si256(a, b));
    }
    for (; i < Count; ++i)
        Out[i] = A[i] ^ B[i];
}

void xorSse2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, std::size_t Count)
{
    std::size_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(B + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm_xor_si128(a, b));
    }
    for (; i < Count; ++i)
        Out[i] = A[i] ^ B[i];
}

}  // namespace

void trafficKernel(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, std::size_t Count)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        xorAvx2(A, B, Out, Count);
    else
        xorSse2(A, B, Out, Count);
}

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> Values)
{
    if (Values.empty())
        return 0.0;
    const auto mid = Values.begin() + std::ptrdiff_t(Values.size() / 2);
    std::nth_element(Values.begin(), mid, Values.end());
    return *mid;
}

FrameMeter::FrameMeter(benchmark::State& State, Frames& Reference) : m_state(State), m_reference(Reference)
{
    m_work.reserve(std::size_t(State.max_iterations));
    m_traffic.reserve(std::size_t(State.max_iterations));
}

void FrameMeter::start()
{
    m_allocationsAtStart = allocationCount();
    m_start = nowNs();
}

void FrameMeter::stop()
{
    const std::int64_t end = nowNs();
    m_allocations += allocationCount() - m_allocationsAtStart;
    if (m_work.size() < m_work.capacity())
        m_work.push_back(double(end - m_start));

    m_state.PauseTiming();
    const std::int64_t trafficStart = nowNs();
    trafficKernel(m_reference.A.data(), m_reference.B.data(), m_reference.Out.data(), m_reference.pixels());
    benchmark::ClobberMemory();
    const std::int64_t trafficEnd = nowNs();
    if (m_traffic.size() < m_traffic.capacity())
        m_traffic.push_back(double(trafficEnd - trafficStart));
    m_state.ResumeTiming();
}

void FrameMeter::report()
{
    const double frames = double(std::max<benchmark::IterationCount>(m_state.iterations(), 1));
    m_state.counters["ratio_to_traffic"] = median(m_work) / median(m_traffic);
    m_state.counters["allocs_per_frame"] = double(m_allocations) / frames;
}

}  // namespace bench
