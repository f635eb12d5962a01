// What a camera frame costs before the pipeline sees it: a YUYV or MJPEG
// frame turned into the RGB32 camera bitmap. Each as a ratio to the
// memory-traffic kernel at the same frame size, and in heap allocations per
// frame.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_support.h"
#include "platform/bitmap.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/camera/pixel_conversion.h"

namespace {

void frameSizes(benchmark::internal::Benchmark* B)
{
    B->ArgNames({"width", "height"});
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}, std::pair{1920, 1080}})
        B->Args({w, h});
}

std::uint8_t* bits(TBitmap& B)
{
    return reinterpret_cast<std::uint8_t*>(B.scanLine(0));
}

// A camera's YUYV frame (random bytes: the conversion does the same work for
// any values) into the bitmap, as V4l2CameraSource converts it.
void BM_YuyvToRgb32(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    std::vector<std::uint8_t> yuyv(std::size_t(w) * std::size_t(h) * 2);
    std::mt19937 rng(7);
    for (auto& b : yuyv)
        b = std::uint8_t(rng());
    TBitmap bitmap(w, h);
    bench::Frames reference(w, h);
    bench::FrameMeter meter(State, reference);
    for (auto _ : State) {
        meter.start();
        yuyvToRgb32(yuyv.data(), w * 2, bits(bitmap), bitmap.image().bytesPerLine(), w, h);
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
BENCHMARK(BM_YuyvToRgb32)->Apply(frameSizes);

// A PipeWire camera's 4:2:0 frame (NV12: Y plane, then U V pairs; I420: Y,
// U and V planes) into the bitmap, as PipeWireCameraSource converts it.
void yuv420ToRgb32(benchmark::State& State, bool Nv12)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    std::vector<std::uint8_t> frame(std::size_t(w) * std::size_t(h) * 3 / 2);
    std::mt19937 rng(7);
    for (auto& b : frame)
        b = std::uint8_t(rng());
    const std::uint8_t* luma = frame.data();
    const std::uint8_t* chroma = luma + std::size_t(w) * std::size_t(h);
    TBitmap bitmap(w, h);
    bench::Frames reference(w, h);
    bench::FrameMeter meter(State, reference);
    for (auto _ : State) {
        meter.start();
        if (Nv12)
            nv12ToRgb32(luma, w, chroma, w, bits(bitmap), bitmap.image().bytesPerLine(), w, h);
        else
            i420ToRgb32(luma, w, chroma, w / 2, chroma + std::size_t(w / 2) * std::size_t(h / 2), w / 2, bits(bitmap),
                        bitmap.image().bytesPerLine(), w, h);
        benchmark::ClobberMemory();
        meter.stop();
    }
    meter.report();
}
void BM_Nv12ToRgb32(benchmark::State& State) { yuv420ToRgb32(State, true); }
void BM_I420ToRgb32(benchmark::State& State) { yuv420ToRgb32(State, false); }
BENCHMARK(BM_Nv12ToRgb32)->Apply(frameSizes);
BENCHMARK(BM_I420ToRgb32)->Apply(frameSizes);

// An MJPEG frame decoded by the function V4l2CameraSource uses, into the
// bitmap's own rows. The JPEG is a demo camera picture (detail, edges,
// noise, like a room) compressed the way webcams send it: 4:2:2, quality 85.
void BM_MjpegToRgb32(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    TBitmap bitmap(w, h);
    DemoScene(TCameraKind::FrontCamera, w, h).render(bits(bitmap), bitmap.image().bytesPerLine(), 1.0, 1);

    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int encoded = tjCompress2(encoder, bits(bitmap), w, int(bitmap.image().bytesPerLine()), h, TJPF_BGRA, &jpeg,
                                    &jpegSize, TJSAMP_422, 85, 0);
    tjDestroy(encoder);
    tjhandle decoder = tjInitDecompress();

    // The decoded picture must land in the bitmap itself: decode once into a
    // separate buffer and once into the cleared bitmap, and compare.
    std::vector<std::uint32_t> expected(std::size_t(w) * std::size_t(h));
    mjpegToRgb32(decoder, jpeg, jpegSize, reinterpret_cast<std::uint8_t*>(expected.data()), w * 4, w, h);
    bitmap.image().fill(0u);
    const std::uint8_t* const rows = bits(bitmap);
    mjpegToRgb32(decoder, jpeg, jpegSize, bits(bitmap), bitmap.image().bytesPerLine(), w, h);
    bool inBitmap = encoded == 0;
    for (int y = 0; inBitmap && y < h; ++y)
        inBitmap = std::memcmp(bitmap.constScanLine(y), expected.data() + std::size_t(y) * std::size_t(w),
                               std::size_t(w) * 4) == 0;

    if (!inBitmap) {
        State.SkipWithError("the JPEG did not decode into the bitmap");
    } else {
        bench::Frames reference(w, h);
        bench::FrameMeter meter(State, reference);
        for (auto _ : State) {
            meter.start();
            mjpegToRgb32(decoder, jpeg, jpegSize, bits(bitmap), bitmap.image().bytesPerLine(), w, h);
            benchmark::ClobberMemory();
            meter.stop();
        }
        meter.report();
        State.counters["jpeg_kb"] = double(jpegSize) / 1024.0;
        // Still the same rows: decoding never moved the bitmap's buffer.
        State.counters["bitmap_moved"] = bits(bitmap) != rows;
    }
    tjDestroy(decoder);
    tjFree(jpeg);
}
BENCHMARK(BM_MjpegToRgb32)->Apply(frameSizes);

}  // namespace
