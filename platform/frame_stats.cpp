#include "platform/frame_stats.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <ctime>
#include <thread>

namespace {

constexpr std::int64_t SecondNs = 1'000'000'000;
// Far more than any camera delivers in a second; reserved once.
constexpr std::size_t SamplesPerSecond = 512;

const char* const StageNames[FrameStageCount] = {"conversion", "hand-over", "pipeline", "paint", "latency"};

std::string milliseconds(std::int64_t Ns)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(Ns) / 1e6);
    return text;
}

std::string publishedText(const FrameCounts& Counts)
{
    return Counts.Publishing ? " published " + std::to_string(Counts.Published) : std::string();
}

}  // namespace

MedianAndWorst medianAndWorst(std::vector<std::int64_t>& Samples)
{
    if (Samples.empty())
        return {};
    const auto middle = Samples.begin() + std::ptrdiff_t(Samples.size() / 2);
    std::nth_element(Samples.begin(), middle, Samples.end());
    // nth_element leaves the larger half behind the middle.
    return {*middle, *std::max_element(middle, Samples.end())};
}

std::string formatStatsLine(const FrameCounts& Counts,
                            const std::array<std::optional<MedianAndWorst>, FrameStageCount>& Stages)
{
    std::string line = "stats: delivered " + std::to_string(Counts.Delivered) + " processed " +
                       std::to_string(Counts.Processed) + " painted " + std::to_string(Counts.Painted) +
                       publishedText(Counts) + " | median/worst ms:";
    for (int i = 0; i < FrameStageCount; ++i) {
        line += i == 0 ? " " : ", ";
        line += StageNames[i];
        line += ' ';
        line += Stages[i] ? milliseconds(Stages[i]->Median) + "/" + milliseconds(Stages[i]->Worst) : "-";
    }
    line += " | dropped " + std::to_string(Counts.Dropped);
    if (Counts.Width > 0 && Counts.Height > 0)
        line += " | " + std::to_string(Counts.Width) + "x" + std::to_string(Counts.Height);
    return line;
}

FrameStatsWindow::FrameStatsWindow(std::int64_t StartNs) : m_start(StartNs)
{
    for (auto& samples : m_samples)
        samples.reserve(SamplesPerSecond);
}

void FrameStatsWindow::addSample(FrameStage Stage, std::int64_t Ns)
{
    auto& samples = m_samples[std::size_t(Stage)];
    if (samples.size() < samples.capacity())
        samples.push_back(Ns);
}

std::optional<std::string> FrameStatsWindow::roll(std::int64_t NowNs)
{
    if (NowNs - m_start < SecondNs)
        return std::nullopt;
    std::array<std::optional<MedianAndWorst>, FrameStageCount> stages;
    for (int i = 0; i < FrameStageCount; ++i) {
        if (!m_samples[i].empty())
            stages[i] = medianAndWorst(m_samples[i]);
        m_samples[i].clear();
    }
    std::string line = formatStatsLine(m_counts, stages);
    m_counts.Delivered = m_counts.Processed = m_counts.Painted = m_counts.Dropped = m_counts.Published = 0;
    m_start = NowNs - m_start < 2 * SecondNs ? m_start + SecondNs : NowNs;
    return line;
}

LatencyHistogram::LatencyHistogram() : m_counts(Buckets, 0) {}

void LatencyHistogram::add(std::int64_t Ns)
{
    // Bucket b holds ((b - 1) * 0.1 ms, b * 0.1 ms], bucket 0 holds 0.
    const std::int64_t bucket = Ns <= 0 ? 0 : (Ns + BucketNs - 1) / BucketNs;
    ++m_counts[std::size_t(std::min<std::int64_t>(bucket, Buckets - 1))];
    ++m_count;
}

void LatencyHistogram::clear()
{
    std::fill(m_counts.begin(), m_counts.end(), 0);
    m_count = 0;
}

std::int64_t LatencyHistogram::percentileNs(double P) const
{
    if (m_count == 0)
        return 0;
    // The smallest bucket with at least ceil(P% of count) latencies at or
    // below it.
    const auto wanted = std::max<std::int64_t>(1, std::int64_t(double(m_count) * P / 100.0 + 0.999999));
    std::int64_t seen = 0;
    for (int b = 0; b < Buckets; ++b) {
        seen += m_counts[std::size_t(b)];
        if (seen >= wanted)
            return b * BucketNs;
    }
    return (Buckets - 1) * BucketNs;
}

std::string formatRunLine(const FrameCounts& Counts, double Seconds, const LatencyHistogram& Latency,
                          std::int64_t PipelineCpuNs, std::int64_t PaintCpuNs)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", Seconds);
    std::string line = "stats: " + std::to_string(Counts.Width) + "x" + std::to_string(Counts.Height) + " for " +
                       seconds + " s: delivered " + std::to_string(Counts.Delivered) + " processed " +
                       std::to_string(Counts.Processed) + " painted " + std::to_string(Counts.Painted) +
                       publishedText(Counts) + " dropped " + std::to_string(Counts.Dropped) + " | latency ";
    if (Latency.count() == 0)
        line += "-";
    else
        line += "median " + milliseconds(Latency.percentileNs(50)) + " ms, p99 " +
                milliseconds(Latency.percentileNs(99)) + " ms";
    line += " | CPU per frame: pipeline ";
    line += Counts.Processed > 0 ? milliseconds(PipelineCpuNs / Counts.Processed) + " ms" : "-";
    line += ", paint ";
    line += Counts.Painted > 0 ? milliseconds(PaintCpuNs / Counts.Painted) + " ms" : "-";
    return line;
}

// ------------------------------------------------------------------ hooks

namespace FrameStats {

std::atomic<bool> g_enabled{false};

namespace {

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    FrameStatsWindow second{nowNs()};

    // The frame converted last, and the one drawn and waiting to be shown.
    std::int64_t convertedArrival = 0;
    std::int64_t convertedEnd = 0;
    std::int64_t convertedCpu = 0;
    std::optional<std::int64_t> awaitingPaint;

    // The run: every frame since the capture size last changed.
    FrameCounts run;
    std::int64_t runStart = 0;
    std::int64_t runPipelineCpu = 0, runPaintCpu = 0;
    LatencyHistogram latency;

    std::thread reporter;
};

State* g_state = nullptr;

void writeLine(const std::string& Line)
{
    // One write per line, so that lines from two threads never interleave.
    const std::string text = Line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// Closes the current second when it has ended; the caller holds the mutex
// and writes the line after letting go of it.
std::optional<std::string> rollLocked(State& S)
{
    return S.second.roll(nowNs());
}

void report(State& S)
{
    std::unique_lock lock(S.mutex);
    while (!S.stopping) {
        const auto due = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(S.second.start() + SecondNs));
        S.wake.wait_until(lock, due);
        if (S.stopping)
            break;
        if (std::optional<std::string> line = rollLocked(S)) {
            lock.unlock();
            writeLine(*line);
            lock.lock();
        }
    }
}

// Runs Record under the mutex, after closing the second if it has ended.
template <class Record>
void withState(Record&& R)
{
    State* s = g_state;
    if (!s)
        return;
    std::optional<std::string> line;
    {
        std::lock_guard lock(s->mutex);
        line = rollLocked(*s);
        R(*s);
    }
    if (line)
        writeLine(*line);
}

}  // namespace

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t(t.tv_sec) * SecondNs + t.tv_nsec;
}

void enable()
{
    if (g_state)
        return;
    g_state = new State;
    g_state->reporter = std::thread([] { report(*g_state); });
    g_enabled.store(true, std::memory_order_relaxed);
}

void finish()
{
    State* s = g_state;
    if (!s)
        return;
    g_enabled.store(false, std::memory_order_relaxed);
    {
        std::lock_guard lock(s->mutex);
        s->stopping = true;
    }
    s->wake.notify_all();
    s->reporter.join();
    if (s->run.Width > 0)
        writeLine(formatRunLine(s->run, double(nowNs() - s->runStart) / 1e9, s->latency, s->runPipelineCpu,
                                s->runPaintCpu));
    // The state stays: a capture thread may still be on its way out of a
    // hook. It is a few kilobytes, once per program run.
}

void delivered()
{
    withState([](State& S) {
        S.second.addDelivered();
        ++S.run.Delivered;
    });
}

void dropped()
{
    withState([](State& S) {
        S.second.addDropped();
        ++S.run.Dropped;
    });
}

void converted(std::int64_t ArrivalNs, std::int64_t StartNs, std::int64_t EndNs, int Width, int Height)
{
    const std::int64_t cpu = threadCpuNs();
    withState([&](State& S) {
        if (Width != S.run.Width || Height != S.run.Height) {
            // A new size starts a new run; this frame was delivered in it.
            S.run = FrameCounts{1, 0, 0, 0, Width, Height, S.run.Publishing, 0};
            S.runStart = ArrivalNs;
            S.runPipelineCpu = S.runPaintCpu = 0;
            S.latency.clear();
        }
        S.second.addProcessed(Width, Height);
        ++S.run.Processed;
        S.second.addSample(FrameStage::HandOver, StartNs - ArrivalNs);
        S.second.addSample(FrameStage::Conversion, EndNs - StartNs);
        S.convertedArrival = ArrivalNs;
        S.convertedEnd = EndNs;
        S.convertedCpu = cpu;
    });
}

void pipelineDone()
{
    const std::int64_t now = nowNs();
    const std::int64_t cpu = threadCpuNs();
    withState([&](State& S) {
        if (S.convertedEnd == 0)
            return;
        S.second.addSample(FrameStage::Pipeline, now - S.convertedEnd);
        S.runPipelineCpu += cpu - S.convertedCpu;
        // A frame still waiting here was never shown: this one replaces it.
        S.awaitingPaint = S.convertedArrival;
        S.convertedEnd = 0;
    });
}

void countPublished()
{
    withState([](State& S) {
        S.second.setPublishing();
        S.run.Publishing = true;
    });
}

void published()
{
    withState([](State& S) {
        S.second.addPublished();
        ++S.run.Published;
    });
}

void painted(std::int64_t StartNs, std::int64_t EndNs, std::int64_t CpuNs)
{
    withState([&](State& S) {
        // Repaints without a new frame (icons fading, a resize) are not the
        // frames' paint.
        if (!S.awaitingPaint)
            return;
        const std::int64_t latency = EndNs - *S.awaitingPaint;
        S.awaitingPaint.reset();
        S.second.addPainted();
        ++S.run.Painted;
        S.runPaintCpu += CpuNs;
        S.second.addSample(FrameStage::Paint, EndNs - StartNs);
        S.second.addSample(FrameStage::Latency, latency);
        S.latency.add(latency);
    });
}

}  // namespace FrameStats
