#pragma once

// --stats: where the time of each camera frame goes, from the moment the
// source delivers it to the end of the repaint that shows it.
//
//   delivered   the source hands the frame over (capture thread)
//   conversion  the source's pixels written into CameraBitmap (YUYV, MJPEG,
//               FFmpeg or the demo scene), on the UI thread
//   hand-over   from delivery until the UI thread takes the frame
//   pipeline    mirroring, motion filter, drawing into the output bitmap
//   paint       the window's repaint and its flush to the display
//   latency     delivered -> end of the paint that showed the frame
//
// Once a second one line goes to stderr:
//   stats: delivered 30 processed 30 painted 30 | median/worst ms: ...
// and when the program ends, one line sums up the latency of the frames
// since the capture size last changed (median and 99th percentile).
//
// The pure parts (the second's window, the histogram, the formatting) take
// every time as an argument; the hooks below read the steady clock and cost
// one relaxed load while --stats is off.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class FrameStage { Conversion, HandOver, Pipeline, Paint, Latency };
constexpr int FrameStageCount = 5;

struct MedianAndWorst {
    std::int64_t Median = 0;
    std::int64_t Worst = 0;
};

// Median (the upper middle one for an even count) and largest of Samples,
// which it reorders; zeros when empty.
MedianAndWorst medianAndWorst(std::vector<std::int64_t>& Samples);

// What happened to the frames in one second (or one run).
struct FrameCounts {
    std::int64_t Delivered = 0;  // handed over by the source
    std::int64_t Processed = 0;  // converted and run through the pipeline
    std::int64_t Painted = 0;    // shown by a repaint (a frame replaced before the repaint is not)
    std::int64_t Dropped = 0;    // delivered but never processed (the camera was stopping)
    int Width = 0;               // of the last frame processed; 0 before the first
    int Height = 0;
    // --publish-camera: frames handed to the published camera's consumers;
    // the rest found no free buffer (or no consumer) and were not published.
    bool Publishing = false;
    std::int64_t Published = 0;
};

// "stats: delivered D processed P painted Q | median/worst ms: conversion
// a/b, hand-over ..., latency y/z | dropped N | WxH"; a stage without
// samples shows "-", and the size is left out before the first frame.
// While the picture is published, "published N" follows "painted Q".
std::string formatStatsLine(const FrameCounts& Counts,
                            const std::array<std::optional<MedianAndWorst>, FrameStageCount>& Stages);

// The figures of one second at a time. Samples belong to the second in
// which they are added; roll() closes a second that has ended.
class FrameStatsWindow {
public:
    explicit FrameStatsWindow(std::int64_t StartNs);

    void addDelivered() { ++m_counts.Delivered; }
    // A frame of Width x Height went through the pipeline.
    void addProcessed(int Width, int Height)
    {
        ++m_counts.Processed;
        m_counts.Width = Width;
        m_counts.Height = Height;
    }
    void addPainted() { ++m_counts.Painted; }
    void addDropped() { ++m_counts.Dropped; }
    void addPublished() { ++m_counts.Published; }
    void setPublishing() { m_counts.Publishing = true; }
    // Durations in nanoseconds. Beyond a generous per-second capacity,
    // samples are dropped from the medians (never allocated for).
    void addSample(FrameStage Stage, std::int64_t Ns);

    // When the second begun at start() has ended by NowNs: its line, and
    // the next second begins (at NowNs after a gap of more than a second,
    // so that an idle spell gives one line rather than one per second).
    std::optional<std::string> roll(std::int64_t NowNs);
    std::int64_t start() const { return m_start; }

private:
    std::int64_t m_start;
    FrameCounts m_counts;  // the size is kept from second to second
    std::array<std::vector<std::int64_t>, FrameStageCount> m_samples;
};

// Latencies of a whole run in 0.1 ms buckets up to one second (a constant
// 40 KB, whatever the length of the run); longer ones count as one second.
class LatencyHistogram {
public:
    static constexpr std::int64_t BucketNs = 100'000;
    static constexpr int Buckets = 10'000;

    LatencyHistogram();
    void add(std::int64_t Ns);
    void clear();
    std::int64_t count() const { return m_count; }
    // The upper edge of the bucket holding the P-th percentile (0 < P <=
    // 100): at least P percent of the latencies are at most this. 0 when
    // empty.
    std::int64_t percentileNs(double P) const;

private:
    std::vector<std::uint32_t> m_counts;
    std::int64_t m_count = 0;
};

// "stats: WxH for S s: delivered D processed P painted Q dropped N |
// latency median M ms, p99 L ms | CPU per frame: pipeline A ms, paint B ms".
// The CPU figures are the UI thread's own time (unlike the wall-clock stage
// times, they do not grow when other programs take the processor), summed
// over the run and divided by the frames processed and painted. While the
// picture is published, "published N" follows "painted Q".
std::string formatRunLine(const FrameCounts& Counts, double Seconds, const LatencyHistogram& Latency,
                          std::int64_t PipelineCpuNs, std::int64_t PaintCpuNs);

// --- The hooks on the frame's road (platform code, plus the pipeline). ---
namespace FrameStats {

extern std::atomic<bool> g_enabled;
inline bool enabled()
{
    return g_enabled.load(std::memory_order_relaxed);
}
std::int64_t nowNs();
// Processor time of the calling thread.
std::int64_t threadCpuNs();

// Starts the once-a-second reporting; before the first frame.
void enable();
// Stops it and writes the run's line; after the last frame.
void finish();

// Capture thread: a frame is being delivered; or it was, and was never
// taken.
void delivered();
void dropped();
// UI thread: the frame that arrived at ArrivalNs was converted into the
// camera bitmap between StartNs and EndNs.
void converted(std::int64_t ArrivalNs, std::int64_t StartNs, std::int64_t EndNs, int Width, int Height);
// UI thread: the pipeline has drawn the frame converted last.
void pipelineDone();
// The lines count published frames from now on (--publish-camera).
void countPublished();
// UI thread: the picture of the frame processed last was published.
void published();
// UI thread: the window repainted between StartNs and EndNs, taking CpuNs
// of processor time.
void painted(std::int64_t StartNs, std::int64_t EndNs, std::int64_t CpuNs);

}  // namespace FrameStats
