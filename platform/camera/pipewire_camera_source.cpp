#include "platform/camera/pipewire_camera_source.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include <unistd.h>

#include "platform/camera/capture_ranges.h"
#include "platform/camera/pixel_conversion.h"
#include "platform/pipewire/pipewire_connection.h"

namespace {

constexpr int kRoundtripMs = 2000;
constexpr int kReleaseWaitMs = 1000;  // a camera shared with another program stays running

// Lower ranks win when two formats offer the same setting: no decoding and
// no JPEG artefacts first, then the cheaper conversions. -1: not ours.
int formatRank(std::uint32_t Format)
{
    switch (Format) {
    case SPA_VIDEO_FORMAT_YUY2: return 0;
    case SPA_VIDEO_FORMAT_NV12:
    case SPA_VIDEO_FORMAT_I420: return 1;
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_RGBx: return 2;
    case SPA_VIDEO_FORMAT_RGB:
    case SPA_VIDEO_FORMAT_BGR: return 3;
    case 0: return 4;  // MJPEG
    default: return -1;
    }
}

// The values of one property of a format object: Choice says how to read
// them (None: one value; Enum: the default, then every alternative; Range:
// default, min, max; Step: default, min, max, step).
template <typename T>
std::vector<T> propValues(const spa_pod_object* Object, std::uint32_t Key, std::uint32_t PodType,
                          std::uint32_t& Choice)
{
    std::vector<T> Values;
    const spa_pod_prop* Prop = spa_pod_object_find_prop(Object, nullptr, Key);
    if (!Prop)
        return Values;
    std::uint32_t Count = 0;
    const spa_pod* First = spa_pod_get_values(&Prop->value, &Count, &Choice);
    if (First->type != PodType || First->size < sizeof(T))
        return Values;
    const auto* Body = static_cast<const std::uint8_t*>(SPA_POD_BODY_CONST(First));
    for (std::uint32_t I = 0; I < Count; ++I) {
        T V;
        std::memcpy(&V, Body + I * First->size, sizeof(T));
        Values.push_back(V);
    }
    return Values;
}

// The alternatives of a list or a fixed value, the default left out: it is
// listed again among them.
template <typename T>
std::vector<T> listed(const std::vector<T>& Values, std::uint32_t Choice)
{
    if (Values.empty() || Choice == SPA_CHOICE_None)
        return Values.empty() ? Values : std::vector<T>{Values.front()};
    return std::vector<T>(Values.begin() + 1, Values.end());
}

struct Rate {
    std::uint32_t Num = 0, Denom = 1;
};

std::vector<std::pair<int, int>> sizesOf(const std::vector<spa_rectangle>& V, std::uint32_t Choice)
{
    std::vector<std::pair<int, int>> Sizes;
    if ((Choice == SPA_CHOICE_Range || Choice == SPA_CHOICE_Step) && V.size() >= 3) {
        FrameSizeRange R;
        R.MinWidth = int(V[1].width), R.MinHeight = int(V[1].height);
        R.MaxWidth = int(V[2].width), R.MaxHeight = int(V[2].height);
        if (Choice == SPA_CHOICE_Step && V.size() >= 4)
            R.StepWidth = int(V[3].width), R.StepHeight = int(V[3].height);
        return standardSizesInRange(R);
    }
    for (const spa_rectangle& S : listed(V, Choice))
        if (S.width > 0 && S.height > 0 && S.width <= 16384 && S.height <= 16384)
            Sizes.emplace_back(int(S.width), int(S.height));
    return Sizes;
}

std::vector<Rate> ratesOf(const std::vector<spa_fraction>& V, std::uint32_t Choice)
{
    std::vector<Rate> Rates;
    if ((Choice == SPA_CHOICE_Range || Choice == SPA_CHOICE_Step) && V.size() >= 3) {
        // Rates min..max are intervals 1/max..1/min; no slowest rate (0/1)
        // is passed as an interval of one second.
        FrameIntervalRange R;
        R.Min = {V[2].denom, V[2].num};
        R.Max = V[1].num == 0 ? IntervalFraction{1, 1} : IntervalFraction{V[1].denom, V[1].num};
        for (const double Fps : standardRatesInRange(R))
            Rates.push_back({std::uint32_t(std::lround(Fps * 1000)), 1000});
        return Rates;
    }
    for (const spa_fraction& F : listed(V, Choice))
        if (F.num > 0 && F.denom > 0)
            Rates.push_back({F.num, F.denom});
    return Rates;
}

// Adds the settings of one EnumFormat object to Offers, in its order. A
// setting offered already is taken over only by a better-ranked format.
void addOffers(const spa_pod* Param, std::vector<PipeWireCameraSource::Offer>& Offers)
{
    if (!spa_pod_is_object_type(Param, SPA_TYPE_OBJECT_Format))
        return;
    const auto* Object = reinterpret_cast<const spa_pod_object*>(Param);
    std::uint32_t MediaType = 0, Subtype = 0;
    if (spa_format_parse(Param, &MediaType, &Subtype) < 0 || MediaType != SPA_MEDIA_TYPE_video)
        return;
    std::vector<std::uint32_t> Formats;
    std::uint32_t Choice = SPA_CHOICE_None;
    if (Subtype == SPA_MEDIA_SUBTYPE_mjpg)
        Formats = {0};
    else if (Subtype == SPA_MEDIA_SUBTYPE_raw) {
        const auto Values = propValues<std::uint32_t>(Object, SPA_FORMAT_VIDEO_format, SPA_TYPE_Id, Choice);
        Formats = listed(Values, Choice);
    }
    std::uint32_t SizeChoice = SPA_CHOICE_None, RateChoice = SPA_CHOICE_None;
    const auto SizeValues = propValues<spa_rectangle>(Object, SPA_FORMAT_VIDEO_size, SPA_TYPE_Rectangle, SizeChoice);
    const auto Sizes = sizesOf(SizeValues, SizeChoice);
    const auto RateValues = propValues<spa_fraction>(Object, SPA_FORMAT_VIDEO_framerate, SPA_TYPE_Fraction, RateChoice);
    auto Rates = ratesOf(RateValues, RateChoice);
    if (Rates.empty())
        Rates.push_back({0, 1});  // the camera names no rate: it keeps its own
    for (const std::uint32_t Format : Formats) {
        const int Rank = formatRank(Format);
        if (Rank < 0)
            continue;
        for (const auto& [W, H] : Sizes)
            for (const Rate& R : Rates) {
                PipeWireCameraSource::Offer New;
                New.Setting = TVideoCaptureSetting(W, H, double(R.Num) / double(R.Denom));
                New.Format = Format;
                New.RateNum = R.Num;
                New.RateDenom = R.Denom;
                New.Rank = Rank;
                auto Same = std::find_if(Offers.begin(), Offers.end(), [&](const PipeWireCameraSource::Offer& O) {
                    return O.Setting == New.Setting;
                });
                if (Same == Offers.end())
                    Offers.push_back(New);
                else if (New.Rank < Same->Rank)
                    *Same = New;
            }
    }
}

void printLine(const std::string& Line)
{
    std::fprintf(stderr, "%s\n", Line.c_str());
}

std::int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The planes of one picture in a buffer. A camera hands planar pictures
// either one plane per data block, or all planes in one block, each after
// the other (chroma rows of I420 half as long as luma rows).
struct Picture {
    std::uint32_t Format = 0;
    int Width = 0, Height = 0;
    const std::uint8_t* Plane[3] = {};
    std::ptrdiff_t Stride[3] = {};
    std::size_t Size = 0;  // MJPEG: the bytes of the picture
};

int planesOf(std::uint32_t Format)
{
    return Format == SPA_VIDEO_FORMAT_NV12 ? 2 : Format == SPA_VIDEO_FORMAT_I420 ? 3 : 1;
}

// The bytes one row of Plane needs.
std::ptrdiff_t rowBytes(std::uint32_t Format, int Width, int Plane)
{
    const std::ptrdiff_t W = Width, Half = (W + 1) / 2;
    switch (Format) {
    case SPA_VIDEO_FORMAT_YUY2: return Half * 4;
    case SPA_VIDEO_FORMAT_RGB:
    case SPA_VIDEO_FORMAT_BGR: return W * 3;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_BGRx: return W * 4;
    case SPA_VIDEO_FORMAT_NV12: return Plane == 0 ? W : Half * 2;
    default: return Plane == 0 ? W : Half;  // I420
    }
}

// Points P's planes into the data of Buffer; false when the data does not
// hold a whole picture (the frame is then skipped).
bool locate(const spa_buffer& Buffer, Picture& P)
{
    if (Buffer.n_datas < 1)
        return false;
    auto Span = [](const spa_data& D, const std::uint8_t*& Start, std::size_t& Size) {
        if (D.data == nullptr || D.chunk == nullptr)
            return false;
        const std::size_t Offset = D.chunk->offset % std::max<std::uint32_t>(D.maxsize, 1);
        Start = static_cast<const std::uint8_t*>(D.data) + Offset;
        Size = std::min<std::size_t>(D.chunk->size, D.maxsize - Offset);
        return true;
    };
    const std::uint8_t* Start = nullptr;
    std::size_t Size = 0;
    if (!Span(Buffer.datas[0], Start, Size) || Size == 0)
        return false;
    if (P.Format == 0) {
        P.Plane[0] = Start;
        P.Size = Size;
        return true;
    }
    const int Planes = planesOf(P.Format);
    const int ChromaRows = (P.Height + 1) / 2;
    const std::int32_t Reported = Buffer.datas[0].chunk->stride;
    // A stride of 0 means packed rows; 4:2:0 rows are of even length, so
    // a chroma row (or half a row, for I420) holds its last pair.
    const std::ptrdiff_t Packed = rowBytes(P.Format, P.Width, 0);
    const std::ptrdiff_t Stride = Reported > 0 ? Reported : Planes > 1 ? (Packed + 1) / 2 * 2 : Packed;
    if (Stride < rowBytes(P.Format, P.Width, 0))
        return false;
    auto Fits = [](std::size_t Size, std::ptrdiff_t Stride, std::ptrdiff_t Row, int Rows) {
        return Rows <= 0 || Size >= std::size_t(Stride) * std::size_t(Rows - 1) + std::size_t(Row);
    };
    P.Plane[0] = Start;
    P.Stride[0] = Stride;
    if (!Fits(Size, Stride, rowBytes(P.Format, P.Width, 0), P.Height))
        return false;
    if (Planes == 1)
        return true;
    if (Buffer.n_datas >= std::uint32_t(Planes)) {
        for (int I = 1; I < Planes; ++I) {
            const std::uint8_t* S = nullptr;
            std::size_t Bytes = 0;
            if (!Span(Buffer.datas[I], S, Bytes))
                return false;
            const std::int32_t R = Buffer.datas[I].chunk->stride;
            P.Plane[I] = S;
            P.Stride[I] = R > 0 ? R : rowBytes(P.Format, P.Width, I);
            if (P.Stride[I] < rowBytes(P.Format, P.Width, I)
                || !Fits(Bytes, P.Stride[I], rowBytes(P.Format, P.Width, I), ChromaRows))
                return false;
        }
        return true;
    }
    // All planes in one block.
    std::size_t At = std::size_t(Stride) * std::size_t(P.Height);
    for (int I = 1; I < Planes; ++I) {
        const std::ptrdiff_t PStride = P.Format == SPA_VIDEO_FORMAT_I420 ? Stride / 2 : Stride;
        if (PStride < rowBytes(P.Format, P.Width, I) || At > Size
            || !Fits(Size - At, PStride, rowBytes(P.Format, P.Width, I), ChromaRows))
            return false;
        P.Plane[I] = Start + At;
        P.Stride[I] = PStride;
        At += std::size_t(PStride) * std::size_t(ChromaRows);
    }
    return true;
}

class PictureFrame final : public CameraFrame {
public:
    PictureFrame(const Picture& P, tjhandle Decoder) : m_p(P), m_decoder(Decoder) {}
    int width() const override { return m_p.Width; }
    int height() const override { return m_p.Height; }
    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        const Picture& P = m_p;
        switch (P.Format) {
        case SPA_VIDEO_FORMAT_YUY2:
            yuyvToRgb32(P.Plane[0], P.Stride[0], Dst, BytesPerLine, P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_NV12:
            nv12ToRgb32(P.Plane[0], P.Stride[0], P.Plane[1], P.Stride[1], Dst, BytesPerLine, P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_I420:
            i420ToRgb32(P.Plane[0], P.Stride[0], P.Plane[1], P.Stride[1], P.Plane[2], P.Stride[2], Dst, BytesPerLine,
                        P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_RGBx:
            rgbxToRgb32(P.Plane[0], P.Stride[0], Dst, BytesPerLine, P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_BGRx:
            bgrxToRgb32(P.Plane[0], P.Stride[0], Dst, BytesPerLine, P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_RGB:
            rgb24ToRgb32(P.Plane[0], P.Stride[0], Dst, BytesPerLine, P.Width, P.Height);
            break;
        case SPA_VIDEO_FORMAT_BGR:
            bgr24ToRgb32(P.Plane[0], P.Stride[0], Dst, BytesPerLine, P.Width, P.Height);
            break;
        default:
            mjpegToRgb32(m_decoder, P.Plane[0], P.Size, Dst, BytesPerLine, P.Width, P.Height);
            break;
        }
    }

private:
    Picture m_p;
    tjhandle m_decoder;
};

// An MJPEG frame is delivered only when its header decodes to the size
// agreed on: a frame cut short or of another size never reaches the bitmap.
bool jpegFits(tjhandle Decoder, const Picture& P)
{
    int W = 0, H = 0, Subsampling = 0, Colorspace = 0;
    return P.Size >= 4 && P.Plane[0][0] == 0xFF && P.Plane[0][1] == 0xD8
        && tjDecompressHeader3(Decoder, P.Plane[0], static_cast<unsigned long>(P.Size), &W, &H, &Subsampling,
                               &Colorspace)
        == 0
        && W == P.Width && H == P.Height;
}

}  // namespace

std::string noPipeWireMessage(const std::string& Why)
{
    return "quorl-eye: cannot use PipeWire: " + Why;
}

std::string noPipeWireCameraMessage()
{
    return "quorl-eye: PipeWire offers no camera";
}

std::string noPictureMessage(const std::string& Camera)
{
    return "quorl-eye: the camera '" + Camera
        + "' sent no picture within 3 seconds (another program may be using it); camera off";
}

std::string cameraGoneMessage(const std::string& Camera)
{
    return "quorl-eye: the camera '" + Camera + "' went away; camera off";
}

std::string cameraFailedMessage(const std::string& Camera, const std::string& Error)
{
    return "quorl-eye: the camera '" + Camera + "' failed: " + Error + "; camera off";
}

std::string pipeWireGoneMessage()
{
    return "quorl-eye: the PipeWire daemon went away; camera off";
}

// One run of a camera. The loop thread fills Ready (under Mutex) and says
// when the stream ended; the capture thread takes the buffers in order,
// delivers them and gives them back to the stream.
struct PipeWireCameraSource::Capture {
    PipeWireCameraSource* Source = nullptr;
    Camera Node;
    CameraSink* Sink = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook StreamListener{};
    tjhandle Decoder = nullptr;

    std::mutex Mutex;
    std::condition_variable Changed;
    std::array<pw_buffer*, 64> Ready{};  // a ring: more than any stream's buffer count
    std::size_t Head = 0, Count = 0;
    Picture Format;  // the negotiated format (planes unset)
    bool HaveFormat = false;
    bool StopRequested = false;
    std::string Ended;  // the line to tell when the stream ended by itself
    std::thread Thread;

    // The camera's node, watched for its state (loop thread, lock held).
    PipeWireConnection* Connection = nullptr;
    pw_proxy* NodeProxy = nullptr;
    spa_hook NodeListener{};
    pw_node_state NodeState = PW_NODE_STATE_CREATING;
};

namespace {

void onStreamParamChanged(void* Data, std::uint32_t Id, const spa_pod* Param)
{
    auto& C = *static_cast<PipeWireCameraSource::Capture*>(Data);
    if (Id != SPA_PARAM_Format || Param == nullptr)
        return;
    std::uint32_t MediaType = 0, Subtype = 0;
    if (spa_format_parse(Param, &MediaType, &Subtype) < 0 || MediaType != SPA_MEDIA_TYPE_video)
        return;
    Picture P;
    if (Subtype == SPA_MEDIA_SUBTYPE_mjpg) {
        spa_video_info_mjpg Info{};
        if (spa_format_video_mjpg_parse(Param, &Info) < 0)
            return;
        P.Width = int(Info.size.width), P.Height = int(Info.size.height);
    } else {
        spa_video_info_raw Info{};
        if (spa_format_video_raw_parse(Param, &Info) < 0 || formatRank(Info.format) < 0)
            return;
        P.Format = Info.format;
        P.Width = int(Info.size.width), P.Height = int(Info.size.height);
    }
    std::lock_guard Lock(C.Mutex);
    C.Format = P;
    C.HaveFormat = P.Width > 0 && P.Height > 0;
}

void onStreamStateChanged(void* Data, pw_stream_state, pw_stream_state State, const char* Error)
{
    auto& C = *static_cast<PipeWireCameraSource::Capture*>(Data);
    if (State != PW_STREAM_STATE_ERROR && State != PW_STREAM_STATE_UNCONNECTED)
        return;
    std::lock_guard Lock(C.Mutex);
    if (C.Ended.empty())
        C.Ended = State == PW_STREAM_STATE_ERROR && Error
            ? cameraFailedMessage(C.Node.Description, Error)
            : cameraGoneMessage(C.Node.Description);
    C.Changed.notify_all();
}

void onStreamProcess(void* Data)
{
    auto& C = *static_cast<PipeWireCameraSource::Capture*>(Data);
    std::lock_guard Lock(C.Mutex);
    while (C.Count < C.Ready.size()) {
        pw_buffer* B = pw_stream_dequeue_buffer(C.Stream);
        if (B == nullptr)
            break;
        C.Ready[(C.Head + C.Count++) % C.Ready.size()] = B;
    }
    C.Changed.notify_all();
}

void onNodeInfo(void* Data, const pw_node_info* Info)
{
    auto& C = *static_cast<PipeWireCameraSource::Capture*>(Data);
    if (Info && (Info->change_mask & PW_NODE_CHANGE_MASK_STATE)) {
        std::lock_guard Lock(C.Mutex);
        C.NodeState = Info->state;
        C.Connection->wake();
    }
}

const pw_node_events kNodeEvents = [] {
    pw_node_events E{};
    E.version = PW_VERSION_NODE_EVENTS;
    E.info = onNodeInfo;
    return E;
}();

const pw_stream_events kStreamEvents = [] {
    pw_stream_events E{};
    E.version = PW_VERSION_STREAM_EVENTS;
    E.state_changed = onStreamStateChanged;
    E.param_changed = onStreamParamChanged;
    E.process = onStreamProcess;
    return E;
}();

}  // namespace

std::shared_ptr<PipeWireCameraSource> PipeWireCameraSource::connect(std::string& Error, MessageHandler Report,
                                                                    int FirstFrameTimeoutMs)
{
    std::string Why;
    std::unique_ptr<PipeWireConnection> Connection = PipeWireConnection::connect(Why);
    if (!Connection) {
        Error = noPipeWireMessage(Why);
        return nullptr;
    }
    return std::shared_ptr<PipeWireCameraSource>(
        new PipeWireCameraSource(std::move(Connection), std::move(Report), FirstFrameTimeoutMs));
}

PipeWireCameraSource::PipeWireCameraSource(std::unique_ptr<PipeWireConnection> Connection, MessageHandler Report,
                                           int TimeoutMs)
    : m_connection(std::move(Connection)), m_report(Report ? std::move(Report) : MessageHandler(printLine)),
      m_firstFrameTimeoutMs(TimeoutMs)
{
    // A camera that goes, or a daemon that goes, ends the run at once.
    PipeWireConnection::Lock L(*m_connection);
    PipeWireConnection::Listener Watch;
    Watch.Removed = [this](const PipeWireConnection::Global& G) {
        if (!m_capture || G.Id != m_capture->Node.Id)
            return;
        std::lock_guard Lock(m_capture->Mutex);
        if (m_capture->Ended.empty())
            m_capture->Ended = cameraGoneMessage(m_capture->Node.Description);
        m_capture->Changed.notify_all();
    };
    Watch.Lost = [this] {
        if (!m_capture)
            return;
        std::lock_guard Lock(m_capture->Mutex);
        m_capture->Ended = pipeWireGoneMessage();
        m_capture->Changed.notify_all();
    };
    m_listener = m_connection->addListener(std::move(Watch));
}

PipeWireCameraSource::~PipeWireCameraSource()
{
    stop();
    PipeWireConnection::Lock L(*m_connection);
    m_connection->removeListener(m_listener);
}

std::vector<PipeWireCameraSource::Camera> PipeWireCameraSource::cameras()
{
    std::vector<Camera> All;
    if (!m_connection->roundtrip(kRoundtripMs))
        return All;
    // The camera this program publishes itself (--publish-camera) is not
    // one of its cameras: it would show its own picture. Its node belongs
    // to a client the daemon knows by this process's id.
    const std::string OwnPid = std::to_string(getpid());
    std::set<std::string> OwnClients;
    for (const PipeWireConnection::Global& G : m_connection->globals())
        if (G.Type == PW_TYPE_INTERFACE_Client && G.prop(PW_KEY_SEC_PID) == OwnPid)
            OwnClients.insert(std::to_string(G.Id));
    for (const PipeWireConnection::Global& G : m_connection->globals())
        if (G.Type == PW_TYPE_INTERFACE_Node && G.prop(PW_KEY_MEDIA_CLASS) == "Video/Source"
            && G.prop(PW_KEY_MEDIA_ROLE) == "Camera" && !OwnClients.count(G.prop(PW_KEY_CLIENT_ID))) {
            const std::string Description = G.prop(PW_KEY_NODE_DESCRIPTION);
            All.push_back({G.Id, G.Serial, G.prop(PW_KEY_NODE_NAME),
                           Description.empty() ? G.prop(PW_KEY_NODE_NAME) : Description});
        }
    std::stable_sort(All.begin(), All.end(), [](const Camera& A, const Camera& B) { return A.Name < B.Name; });
    return All;
}

const PipeWireCameraSource::Camera* PipeWireCameraSource::camera(const std::vector<Camera>& All,
                                                                 TCameraKind Kind) const
{
    const std::size_t Index = Kind == TCameraKind::BackCamera ? 1 : 0;
    return Index < All.size() ? &All[Index] : nullptr;
}

std::vector<std::string> PipeWireCameraSource::cameraNames()
{
    PipeWireConnection::Lock L(*m_connection);
    std::vector<std::string> Names;
    for (const Camera& C : cameras())
        Names.push_back(C.Name);
    return Names;
}

namespace {

// The EnumFormat params of one object (a node or a port), copied out.
std::vector<std::vector<std::uint8_t>> enumFormats(PipeWireConnection& Connection, std::uint32_t Id,
                                                   const char* Type, std::uint32_t Version)
{
    struct Collect {
        std::vector<std::vector<std::uint8_t>> Params;
    } Got;
    auto* Proxy = static_cast<pw_proxy*>(pw_registry_bind(Connection.registry(), Id, Type, Version, 0));
    if (!Proxy)
        return {};
    spa_hook Hook{};
    auto OnParam = [](void* Data, int, std::uint32_t ParamId, std::uint32_t, std::uint32_t, const spa_pod* Param) {
        if (ParamId == SPA_PARAM_EnumFormat && Param) {
            const auto* Bytes = reinterpret_cast<const std::uint8_t*>(Param);
            static_cast<Collect*>(Data)->Params.emplace_back(Bytes, Bytes + SPA_POD_SIZE(Param));
        }
    };
    if (std::string(Type) == PW_TYPE_INTERFACE_Node) {
        static pw_node_events Events{};
        Events.version = PW_VERSION_NODE_EVENTS;
        Events.param = OnParam;
        pw_node_add_listener(reinterpret_cast<pw_node*>(Proxy), &Hook, &Events, &Got);
        pw_node_enum_params(reinterpret_cast<pw_node*>(Proxy), 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
    } else {
        static pw_port_events Events{};
        Events.version = PW_VERSION_PORT_EVENTS;
        Events.param = OnParam;
        pw_port_add_listener(reinterpret_cast<pw_port*>(Proxy), &Hook, &Events, &Got);
        pw_port_enum_params(reinterpret_cast<pw_port*>(Proxy), 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
    }
    Connection.roundtrip(kRoundtripMs);
    spa_hook_remove(&Hook);
    pw_proxy_destroy(Proxy);
    return std::move(Got.Params);
}

}  // namespace

const std::vector<PipeWireCameraSource::Offer>& PipeWireCameraSource::offers(const Camera& C)
{
    auto Known = m_offers.find(C.Serial);
    if (Known != m_offers.end())
        return Known->second;
    // Nodes of clients answer on the node; nodes the daemon made itself (a
    // webcam WirePlumber found) answer on their output port.
    std::vector<std::vector<std::uint8_t>> Params =
        enumFormats(*m_connection, C.Id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE);
    if (Params.empty())
        for (const PipeWireConnection::Global& G : m_connection->globals())
            if (G.Type == PW_TYPE_INTERFACE_Port && G.prop(PW_KEY_NODE_ID) == std::to_string(C.Id)
                && G.prop(PW_KEY_PORT_DIRECTION) == "out") {
                Params = enumFormats(*m_connection, G.Id, PW_TYPE_INTERFACE_Port, PW_VERSION_PORT);
                break;
            }
    std::vector<Offer> Found;
    for (const auto& P : Params)
        addOffers(reinterpret_cast<const spa_pod*>(P.data()), Found);
    // An empty answer is not kept: a camera just plugged in may not have
    // its port yet, and is asked again at the next listing.
    static const std::vector<Offer> None;
    if (Found.empty())
        return None;
    // Forget cameras that are gone; a serial is never used again.
    if (m_offers.size() > 16)
        m_offers.clear();
    return m_offers[C.Serial] = std::move(Found);
}

std::vector<TVideoCaptureSetting> PipeWireCameraSource::captureSettings(TCameraKind Kind)
{
    PipeWireConnection::Lock L(*m_connection);
    std::vector<TVideoCaptureSetting> Settings;
    const std::vector<Camera> All = cameras();
    if (const Camera* C = camera(All, Kind))
        for (const Offer& O : offers(*C))
            Settings.push_back(O.Setting);
    return Settings;
}

TVideoCaptureSetting PipeWireCameraSource::resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted)
{
    PipeWireConnection::Lock L(*m_connection);
    const std::vector<Camera> All = cameras();
    const Camera* C = camera(All, Kind);
    if (!C || offers(*C).empty())
        return Wanted;
    return nearestOffer(offers(*C), Wanted).Setting;
}

std::optional<TVideoCaptureSetting> PipeWireCameraSource::start(TCameraKind Kind,
                                                                const TVideoCaptureSetting& Setting, CameraSink& Sink)
{
    stop();  // joins the thread of a run that ended by itself
    PipeWireConnection::Lock L(*m_connection);
    const std::vector<Camera> All = cameras();
    const Camera* Node = camera(All, Kind);
    if (!Node || offers(*Node).empty())
        return std::nullopt;
    const Offer Chosen = nearestOffer(offers(*Node), Setting);

    auto C = std::make_unique<Capture>();
    C->Source = this;
    C->Node = *Node;
    C->Sink = &Sink;
    if (Chosen.Format == 0 && !(C->Decoder = tjInitDecompress()))
        return std::nullopt;
    // Linked to this camera only, found by its name; when it goes, the
    // stream is not moved to another camera.
    pw_properties* Props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_NODE_NAME,
        "quorl-eye", PW_KEY_APP_NAME, "Quorl Eye Vision", PW_KEY_TARGET_OBJECT, Node->Name.c_str(),
        PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    C->Stream = pw_stream_new(m_connection->core(), "quorl-eye camera", Props);
    if (!C->Stream) {
        if (C->Decoder)
            tjDestroy(C->Decoder);
        return std::nullopt;
    }
    pw_stream_add_listener(C->Stream, &C->StreamListener, &kStreamEvents, C.get());

    std::uint8_t Storage[1024];
    spa_pod_builder B = SPA_POD_BUILDER_INIT(Storage, sizeof Storage);
    const spa_rectangle Size = SPA_RECTANGLE(std::uint32_t(Chosen.Setting.Width), std::uint32_t(Chosen.Setting.Height));
    const spa_fraction Rate = SPA_FRACTION(Chosen.RateNum, Chosen.RateDenom);
    spa_pod_frame Object;
    spa_pod_builder_push_object(&B, &Object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&B, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), 0);
    if (Chosen.Format == 0)
        spa_pod_builder_add(&B, SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_mjpg), 0);
    else
        spa_pod_builder_add(&B, SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
                            SPA_POD_Id(Chosen.Format), 0);
    spa_pod_builder_add(&B, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&Size), 0);
    if (Chosen.RateNum > 0)
        spa_pod_builder_add(&B, SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&Rate), 0);
    const spa_pod* Params[1] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&B, &Object))};
    if (pw_stream_connect(C->Stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                          | PW_STREAM_FLAG_DONT_RECONNECT),
                          Params, 1)
        < 0) {
        spa_hook_remove(&C->StreamListener);
        pw_stream_destroy(C->Stream);
        if (C->Decoder)
            tjDestroy(C->Decoder);
        return std::nullopt;
    }
    C->Connection = m_connection.get();
    C->NodeProxy = static_cast<pw_proxy*>(
        pw_registry_bind(m_connection->registry(), Node->Id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (C->NodeProxy)
        pw_node_add_listener(reinterpret_cast<pw_node*>(C->NodeProxy), &C->NodeListener, &kNodeEvents, C.get());
    m_running = true;
    m_capture = std::move(C);
    Capture& Running = *m_capture;
    Running.Thread = std::thread([this, &Running] { captureLoop(Running); });
    return Chosen.Setting;
}

void PipeWireCameraSource::captureLoop(Capture& C)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point FirstFrameDeadline = Clock::now() + std::chrono::milliseconds(m_firstFrameTimeoutMs);
    bool Delivered = false;
    std::unique_lock Lock(C.Mutex);
    for (;;) {
        auto Woken = [&] { return C.StopRequested || !C.Ended.empty() || C.Count > 0; };
        if (Delivered)
            C.Changed.wait(Lock, Woken);
        else if (!C.Changed.wait_until(Lock, FirstFrameDeadline, Woken)) {
            Lock.unlock();
            endCapture(C, noPictureMessage(C.Node.Description));
            return;
        }
        if (C.StopRequested)
            return;
        if (!C.Ended.empty()) {
            const std::string Line = C.Ended;
            Lock.unlock();
            endCapture(C, Line);
            return;
        }
        pw_buffer* Buffer = C.Ready[C.Head];
        C.Head = (C.Head + 1) % C.Ready.size();
        --C.Count;
        Picture P = C.Format;
        const bool HaveFormat = C.HaveFormat;
        Lock.unlock();

        if (HaveFormat && locate(*Buffer->buffer, P) && (P.Format != 0 || jpegFits(C.Decoder, P))) {
            const PictureFrame Frame(P, C.Decoder);
            C.Sink->frameReady(Frame, steadyNowNs());
            Delivered = true;
        }
        {
            // Only now may the camera fill this buffer again.
            PipeWireConnection::Lock L(*m_connection);
            pw_stream_queue_buffer(C.Stream, Buffer);
        }
        Lock.lock();
    }
}

// The run ended by itself: the stream lets go of the camera here, stop()
// will only join this thread.
void PipeWireCameraSource::endCapture(Capture& C, const std::string& Line)
{
    {
        PipeWireConnection::Lock L(*m_connection);
        pw_stream_disconnect(C.Stream);
    }
    m_running = false;
    m_report(Line);
    C.Sink->sourceStopped();
}

void PipeWireCameraSource::stop()
{
    if (!m_capture)
        return;
    Capture& C = *m_capture;
    {
        std::lock_guard Lock(C.Mutex);
        C.StopRequested = true;
        C.Changed.notify_all();
    }
    if (C.Thread.joinable())
        C.Thread.join();
    {
        PipeWireConnection::Lock L(*m_connection);
        spa_hook_remove(&C.StreamListener);
        pw_stream_destroy(C.Stream);
        // The camera is released once its node leaves the running state. A
        // start that came before (a new setting, at once) would find the
        // node still in the old format and never be linked.
        if (C.NodeProxy) {
            m_connection->waitUntil(
                [&] {
                    std::lock_guard Lock(C.Mutex);
                    return C.NodeState != PW_NODE_STATE_RUNNING || !C.Ended.empty() || !m_connection->connected();
                },
                kReleaseWaitMs);
            spa_hook_remove(&C.NodeListener);
            pw_proxy_destroy(C.NodeProxy);
        }
        if (C.Decoder)
            tjDestroy(C.Decoder);
        m_capture.reset();  // under the lock: the registry listener reads it
    }
    m_running = false;
}

bool PipeWireCameraSource::isRunning() const
{
    return m_running;
}
