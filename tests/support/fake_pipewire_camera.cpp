// A camera on a PipeWire daemon, for the tests and scripts/measure: a video
// source node (media.class Video/Source, media.role Camera unless told
// otherwise) that offers the modes given on its command line and, once a
// consumer is linked, sends the pattern of camera_pattern.h (or the JPEG
// files it was given) at the negotiated rate, driving the graph itself.
//
//   fake_pipewire_camera --name NODE.NAME [--description TEXT]
//       [--class Video/Source] [--role Camera|ROLE|""]
//       --mode FORMAT:SIZES:RATES ...   one EnumFormat per --mode, in order
//       [--jpeg FILE ...]               MJPG frames, sent in turn
//       [--moving] [--padded] [--zero-stride] [--silent]
//
// FORMAT is YUY2, NV12, I420, RGBx, BGRx, RGB, BGR or MJPG. SIZES is WxH, a
// list WxH,WxH,... (the first is the default), or a range
// MINWxMINH-MAXWxMAXH/STEPWxSTEPH. RATES is N, a list N,N,... or a range
// MIN-MAX (frames a second).
//
// --moving adds the frame number to every byte; --padded pads every row
// with 64 bytes; --zero-stride reports a stride of 0 (rows packed);
// --silent negotiates but never sends a frame.
//
// On stdout, one line per event: "ready NODE-ID" once the node is in the
// graph, "format FORMAT WxH@RATE" when a consumer fixed one, "streaming"
// and "idle" as frames start and stop. SIGTERM or SIGINT end it cleanly.

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera_pattern.h"

namespace {

struct Size {
    int W = 0, H = 0;
};
struct Mode {
    std::string Format;
    std::vector<Size> Sizes;  // a list, or {min, max, step} when SizeRange
    bool SizeRange = false;
    std::vector<int> Rates;  // a list, or {min, max} when RateRange
    bool RateRange = false;
};

struct Fake {
    pw_main_loop* Loop = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook Listener{};
    spa_source* Timer = nullptr;
    std::vector<Mode> Modes;
    std::vector<std::vector<std::uint8_t>> Jpegs;
    bool Moving = false, Padded = false, ZeroStride = false, Silent = false;
    bool Ready = false, Streaming = false;
    std::string Format;
    int Width = 0, Height = 0, Rate = 0, Stride = 0;
    std::size_t FrameBytes = 0;
    int Frame = 0;
};

[[noreturn]] void usage(const std::string& Why)
{
    std::fprintf(stderr, "fake_pipewire_camera: %s\n", Why.c_str());
    std::exit(2);
}

std::vector<std::string> split(const std::string& S, char By)
{
    std::vector<std::string> Parts;
    std::size_t From = 0;
    for (std::size_t At; (At = S.find(By, From)) != std::string::npos; From = At + 1)
        Parts.push_back(S.substr(From, At - From));
    Parts.push_back(S.substr(From));
    return Parts;
}

Size parseSize(const std::string& S)
{
    Size R;
    if (std::sscanf(S.c_str(), "%dx%d", &R.W, &R.H) != 2)
        usage("bad size '" + S + "'");
    return R;
}

Mode parseMode(const std::string& Text)
{
    const std::vector<std::string> Parts = split(Text, ':');
    if (Parts.size() != 3)
        usage("a mode is FORMAT:SIZES:RATES, not '" + Text + "'");
    Mode M;
    M.Format = Parts[0];
    if (Parts[1].find('-') != std::string::npos) {
        const std::vector<std::string> Ends = split(Parts[1], '-');
        const std::vector<std::string> MaxStep = split(Ends.at(1), '/');
        M.Sizes = {parseSize(Ends[0]), parseSize(MaxStep[0]), parseSize(MaxStep.size() > 1 ? MaxStep[1] : "1x1")};
        M.SizeRange = true;
    } else {
        for (const std::string& S : split(Parts[1], ','))
            M.Sizes.push_back(parseSize(S));
    }
    M.RateRange = Parts[2].find('-') != std::string::npos;
    for (const std::string& R : split(Parts[2], M.RateRange ? '-' : ','))
        M.Rates.push_back(std::atoi(R.c_str()));
    return M;
}

std::uint32_t videoFormat(const std::string& F)
{
    if (F == "YUY2") return SPA_VIDEO_FORMAT_YUY2;
    if (F == "NV12") return SPA_VIDEO_FORMAT_NV12;
    if (F == "I420") return SPA_VIDEO_FORMAT_I420;
    if (F == "RGBx") return SPA_VIDEO_FORMAT_RGBx;
    if (F == "BGRx") return SPA_VIDEO_FORMAT_BGRx;
    if (F == "RGB") return SPA_VIDEO_FORMAT_RGB;
    if (F == "BGR") return SPA_VIDEO_FORMAT_BGR;
    usage("unknown format '" + F + "'");
}

std::string formatName(std::uint32_t F)
{
    for (const char* N : {"YUY2", "NV12", "I420", "RGBx", "BGRx", "RGB", "BGR"})
        if (videoFormat(N) == F)
            return N;
    return "?";
}

// One EnumFormat object. A list (Enum) carries its default first and then
// every alternative, the default again among them.
const spa_pod* enumFormat(spa_pod_builder& B, const Mode& M)
{
    spa_pod_frame Object, Choice;
    spa_pod_builder_push_object(&B, &Object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&B, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), 0);
    if (M.Format == "MJPG") {
        spa_pod_builder_add(&B, SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_mjpg), 0);
    } else {
        spa_pod_builder_add(&B, SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
                            SPA_POD_Id(videoFormat(M.Format)), 0);
    }
    spa_pod_builder_prop(&B, SPA_FORMAT_VIDEO_size, 0);
    if (M.SizeRange) {
        spa_pod_builder_push_choice(&B, &Choice, SPA_CHOICE_Step, 0);
        spa_pod_builder_rectangle(&B, M.Sizes[1].W, M.Sizes[1].H);  // the default: the largest
        for (const Size& S : M.Sizes)
            spa_pod_builder_rectangle(&B, S.W, S.H);
        spa_pod_builder_pop(&B, &Choice);
    } else if (M.Sizes.size() > 1) {
        spa_pod_builder_push_choice(&B, &Choice, SPA_CHOICE_Enum, 0);
        spa_pod_builder_rectangle(&B, M.Sizes[0].W, M.Sizes[0].H);
        for (const Size& S : M.Sizes)
            spa_pod_builder_rectangle(&B, S.W, S.H);
        spa_pod_builder_pop(&B, &Choice);
    } else {
        spa_pod_builder_rectangle(&B, M.Sizes[0].W, M.Sizes[0].H);
    }
    spa_pod_builder_prop(&B, SPA_FORMAT_VIDEO_framerate, 0);
    if (M.RateRange || M.Rates.size() > 1) {
        spa_pod_builder_push_choice(&B, &Choice, M.RateRange ? SPA_CHOICE_Range : SPA_CHOICE_Enum, 0);
        spa_pod_builder_fraction(&B, M.Rates.back(), 1);
        for (int R : M.Rates)
            spa_pod_builder_fraction(&B, R, 1);
        spa_pod_builder_pop(&B, &Choice);
    } else {
        spa_pod_builder_fraction(&B, M.Rates[0], 1);
    }
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&B, &Object));
}

void say(const std::string& Line)
{
    std::printf("%s\n", Line.c_str());
    std::fflush(stdout);
}

void setTimer(Fake& F)
{
    timespec Value{}, Interval{};
    if (F.Streaming && !F.Silent && F.Rate > 0) {
        Interval.tv_nsec = 1000000000L / F.Rate;
        Value.tv_nsec = 1;  // at once
    }
    pw_loop_update_timer(pw_main_loop_get_loop(F.Loop), F.Timer, &Value, &Interval, false);
}

void onStateChanged(void* Data, pw_stream_state Old, pw_stream_state State, const char*)
{
    auto& F = *static_cast<Fake*>(Data);
    if (State == PW_STREAM_STATE_PAUSED && !F.Ready) {
        F.Ready = true;
        say("ready " + std::to_string(pw_stream_get_node_id(F.Stream)));
    }
    if (State == PW_STREAM_STATE_ERROR || (State == PW_STREAM_STATE_UNCONNECTED && F.Ready)) {
        pw_main_loop_quit(F.Loop);  // the daemon is gone: so is the camera
        return;
    }
    F.Streaming = State == PW_STREAM_STATE_STREAMING;
    if (F.Streaming)
        say("streaming");
    else if (Old == PW_STREAM_STATE_STREAMING)
        say("idle");
    setTimer(F);
}

void onParamChanged(void* Data, std::uint32_t Id, const spa_pod* Param)
{
    auto& F = *static_cast<Fake*>(Data);
    if (Id != SPA_PARAM_Format || Param == nullptr)
        return;
    std::uint32_t MediaType = 0, Subtype = 0;
    if (spa_format_parse(Param, &MediaType, &Subtype) < 0)
        return;
    if (Subtype == SPA_MEDIA_SUBTYPE_mjpg) {
        spa_video_info_mjpg Info{};
        spa_format_video_mjpg_parse(Param, &Info);
        F.Format = "MJPG";
        F.Width = int(Info.size.width), F.Height = int(Info.size.height);
        F.Rate = Info.framerate.denom ? int(Info.framerate.num / Info.framerate.denom) : 0;
        F.Stride = 0;
        F.FrameBytes = 0;
        for (const auto& J : F.Jpegs)
            F.FrameBytes = std::max(F.FrameBytes, J.size());
    } else {
        spa_video_info_raw Info{};
        spa_format_video_raw_parse(Param, &Info);
        F.Format = formatName(Info.format);
        F.Width = int(Info.size.width), F.Height = int(Info.size.height);
        F.Rate = Info.framerate.denom ? int(Info.framerate.num / Info.framerate.denom) : 0;
        F.Stride = pattern::tightStride(F.Format, F.Width) + (F.Padded ? 64 : 0);
        F.FrameBytes = pattern::pictureBytes(F.Format, F.Height, F.Stride);
    }
    say("format " + F.Format + " " + std::to_string(F.Width) + "x" + std::to_string(F.Height) + "@"
        + std::to_string(F.Rate));

    std::uint8_t Storage[1024];
    spa_pod_builder B = SPA_POD_BUILDER_INIT(Storage, sizeof Storage);
    const spa_pod* Buffers = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &B, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(int(std::max<std::size_t>(F.FrameBytes, 1))), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(F.Stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(F.Stream, &Buffers, 1);
}

void onProcess(void* Data)
{
    auto& F = *static_cast<Fake*>(Data);
    pw_buffer* B = pw_stream_dequeue_buffer(F.Stream);
    if (B == nullptr)
        return;
    spa_data& D = B->buffer->datas[0];
    std::size_t Used = 0;
    if (D.data != nullptr) {
        if (F.Format == "MJPG") {
            if (!F.Jpegs.empty()) {
                const auto& J = F.Jpegs[std::size_t(F.Frame) % F.Jpegs.size()];
                if (J.size() <= D.maxsize) {
                    std::memcpy(D.data, J.data(), J.size());
                    Used = J.size();
                }
            }
        } else if (F.FrameBytes <= D.maxsize) {
            Used = pattern::fill(F.Format, F.Width, F.Height, F.Stride, F.Moving ? F.Frame : 0,
                                 static_cast<std::uint8_t*>(D.data));
        }
    }
    D.chunk->offset = 0;
    D.chunk->size = std::uint32_t(Used);
    D.chunk->stride = F.ZeroStride ? 0 : F.Stride;
    ++F.Frame;
    pw_stream_queue_buffer(F.Stream, B);
}

void onTimer(void* Data, std::uint64_t)
{
    auto& F = *static_cast<Fake*>(Data);
    if (F.Streaming)
        pw_stream_trigger_process(F.Stream);
}

void onSignal(void* Data, int)
{
    pw_main_loop_quit(static_cast<Fake*>(Data)->Loop);
}

}  // namespace

int main(int argc, char** argv)
{
    Fake F;
    std::string Name, Description, MediaClass = "Video/Source", Role = "Camera";
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        auto Value = [&]() -> std::string {
            if (I + 1 >= argc)
                usage(Arg + " needs a value");
            return argv[++I];
        };
        if (Arg == "--name") Name = Value();
        else if (Arg == "--description") Description = Value();
        else if (Arg == "--class") MediaClass = Value();
        else if (Arg == "--role") Role = Value();
        else if (Arg == "--mode") F.Modes.push_back(parseMode(Value()));
        else if (Arg == "--jpeg") {
            std::ifstream In(Value(), std::ios::binary);
            F.Jpegs.emplace_back(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
            if (F.Jpegs.back().empty())
                usage("cannot read " + std::string(argv[I]));
        }
        else if (Arg == "--moving") F.Moving = true;
        else if (Arg == "--padded") F.Padded = true;
        else if (Arg == "--zero-stride") F.ZeroStride = true;
        else if (Arg == "--silent") F.Silent = true;
        else usage("unknown argument '" + Arg + "'");
    }
    if (Name.empty() || F.Modes.empty())
        usage("needs --name and at least one --mode");

    pw_init(&argc, &argv);
    F.Loop = pw_main_loop_new(nullptr);
    pw_loop* Loop = pw_main_loop_get_loop(F.Loop);
    pw_loop_add_signal(Loop, SIGTERM, onSignal, &F);
    pw_loop_add_signal(Loop, SIGINT, onSignal, &F);
    F.Timer = pw_loop_add_timer(Loop, onTimer, &F);

    pw_properties* Props = pw_properties_new(PW_KEY_MEDIA_CLASS, MediaClass.c_str(), PW_KEY_NODE_NAME, Name.c_str(),
                                             PW_KEY_NODE_DESCRIPTION,
                                             (Description.empty() ? Name : Description).c_str(), nullptr);
    if (!Role.empty())
        pw_properties_set(Props, PW_KEY_MEDIA_ROLE, Role.c_str());
    F.Stream = pw_stream_new_simple(Loop, Name.c_str(), Props,
                                    [] {
                                        static pw_stream_events E{};
                                        E.version = PW_VERSION_STREAM_EVENTS;
                                        E.state_changed = onStateChanged;
                                        E.param_changed = onParamChanged;
                                        E.process = onProcess;
                                        return &E;
                                    }(),
                                    &F);
    std::vector<std::uint8_t> Storage(65536);
    spa_pod_builder B = SPA_POD_BUILDER_INIT(Storage.data(), std::uint32_t(Storage.size()));
    std::vector<const spa_pod*> Params;
    for (const Mode& M : F.Modes)
        Params.push_back(enumFormat(B, M));
    if (pw_stream_connect(F.Stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), Params.data(),
                          std::uint32_t(Params.size()))
        < 0) {
        std::fprintf(stderr, "fake_pipewire_camera: cannot connect to PipeWire\n");
        return 1;
    }
    pw_main_loop_run(F.Loop);

    pw_stream_destroy(F.Stream);
    pw_loop_destroy_source(Loop, F.Timer);
    pw_main_loop_destroy(F.Loop);
    pw_deinit();
    return 0;
}
