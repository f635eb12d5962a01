// What it costs to list the cameras afresh, as the V4L2 source does at every
// ask for capture settings (a front/back switch asks up to three times): as
// a ratio to one 640x480 traffic-kernel frame, next to the absolute time.
//   fake:   two webcams and a metadata node in memory (the source's own
//           work: opening, the enumeration calls, building the offers)
//   system: this machine's /dev (the directory listing, plus whatever
//           video nodes it has: a real webcam adds the driver's answers)

#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "platform/camera/v4l2_camera_source.h"
#include "support/fake_v4l2_device.h"

namespace {

FakeDeviceSetup webcam(const char* Path)
{
    const std::vector<v4l2_fract> Rates{{1, 30}, {1, 25}, {1, 20}, {1, 15}, {1, 10}, {1, 5}};
    std::vector<FakeFrameSize> Sizes;
    for (const auto& [W, H] : {std::pair{640u, 480u}, {160u, 120u}, {320u, 240u}, {800u, 600u}, {1280u, 720u},
                               {1920u, 1080u}})
        Sizes.push_back({W, H, Rates});
    return {.Path = Path, .Formats = {{V4L2_PIX_FMT_YUYV, Sizes}, {V4L2_PIX_FMT_MJPEG, Sizes}}};
}

void BM_CameraListing(benchmark::State& State)
{
    const bool system = State.range(0) != 0;
    std::shared_ptr<V4l2Io> io = system ? systemV4l2Io()
                                        : std::make_shared<FakeV4l2Io>(std::vector{
                                              webcam("/dev/video0"),
                                              FakeDeviceSetup{.Path = "/dev/video1", .DeviceCaps = V4L2_CAP_META_CAPTURE},
                                              webcam("/dev/video2")});
    V4l2CameraSource source(io, [](const std::string&) {});
    bench::Frames reference(640, 480);
    bench::FrameMeter meter(State, reference);
    std::size_t offered = 0;
    for (auto _ : State) {
        meter.start();
        offered = source.captureSettings(TCameraKind::FrontCamera).size();
        meter.stop();
    }
    meter.report();
    State.counters["settings"] = double(offered);
}
BENCHMARK(BM_CameraListing)->ArgName("system")->Arg(0)->Arg(1);

}  // namespace
