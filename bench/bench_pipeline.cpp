// The whole per-frame work of the main window (capture into CameraBitmap,
// mirroring, motion filter, drawing into the output, keeping the previous
// frame), driven by a camera source that hands over prepared frames on the
// UI thread. Reported like the kernels: as a ratio to the memory-traffic
// kernel at the capture size, and in heap allocations per frame.

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "app/QuorlEye_main_form.h"
#include "bench/bench_support.h"
#include "platform/camera/camera_component.h"
#include "platform/camera/camera_source.h"
#include "platform/form.h"

namespace {

// A captured frame, written out with one memcpy per row as a camera's
// converted buffer would be.
class BenchFrame : public CameraFrame {
public:
    BenchFrame(int Width, int Height, std::uint32_t Seed)
        : m_width(Width), m_height(Height), m_pixels(std::size_t(Width) * std::size_t(Height))
    {
        std::mt19937 rng(Seed);
        for (auto& p : m_pixels)
            p = rng() | 0xFF000000u;
    }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        const std::size_t rowBytes = std::size_t(m_width) * 4;
        for (int y = 0; y < m_height; ++y)
            std::memcpy(Dst + y * BytesPerLine, m_pixels.data() + std::size_t(y) * std::size_t(m_width), rowBytes);
    }

private:
    int m_width;
    int m_height;
    std::vector<std::uint32_t> m_pixels;
};

// One camera of one setting that starts no thread: deliver() hands a frame
// to the camera component on the calling (UI) thread, so the pipeline runs
// directly inside it.
class BenchCameraSource : public CameraSource {
public:
    explicit BenchCameraSource(const TVideoCaptureSetting& Setting) : m_setting(Setting) {}

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind) override { return {m_setting}; }
    TVideoCaptureSetting resolveSetting(TCameraKind, const TVideoCaptureSetting&) override { return m_setting; }
    std::optional<TVideoCaptureSetting> start(TCameraKind, const TVideoCaptureSetting&, CameraSink& Sink) override
    {
        m_sink = &Sink;
        return m_setting;
    }
    void stop() override { m_sink = nullptr; }
    bool isRunning() const override { return m_sink != nullptr; }

    void deliver(const CameraFrame& Frame, std::int64_t TimeStampNs)
    {
        if (m_sink)
            m_sink->frameReady(Frame, TimeStampNs);
    }

private:
    TVideoCaptureSetting m_setting;
    CameraSink* m_sink = nullptr;
};

void BM_FramePipeline(benchmark::State& State)
{
    const int w = int(State.range(0)), h = int(State.range(1));
    const int outW = int(State.range(2)), outH = int(State.range(3));
    const TVideoCaptureSetting setting(w, h, 30.0);
    const auto source = std::make_shared<BenchCameraSource>(setting);
    InstallCameraSource(source);
    {
        auto form = std::make_unique<TQuorlEyeMainForm>(nullptr);
        form->SetClientWidth(outW);
        form->SetClientHeight(outH);
        form->FormResize(form.get());
        form->CameraComponent->InternalSetCaptureSetting(setting);
        form->CameraComponent->SetActive(true);
        form->GetCameraRectSize();

        // Two different frames in turn, so that the filter sees motion. The
        // first frames seed and size every bitmap before timing starts.
        const BenchFrame frames[2] = {BenchFrame(w, h, 1), BenchFrame(w, h, 2)};
        std::int64_t n = 0;
        for (; n < 4; ++n)
            source->deliver(frames[n & 1], n);
        if (!form->CameraComponent->Active() || form->CameraBitmap->Width() != w) {
            State.SkipWithError("the camera did not deliver frames");
        } else {
            bench::Frames reference(w, h);
            bench::FrameMeter meter(State, reference);
            for (auto _ : State) {
                meter.start();
                source->deliver(frames[n & 1], n);
                meter.stop();
                ++n;
            }
            meter.report();
        }
        form->CameraComponent->SetActive(false);
    }
    InstallCameraSource(nullptr);
}
BENCHMARK(BM_FramePipeline)
    ->ArgNames({"width", "height", "outW", "outH"})
    ->Args({1280, 720, 1000, 562})
    ->Args({1920, 1080, 1920, 1080})
    ->Args({1920, 1080, 640, 360});

}  // namespace
