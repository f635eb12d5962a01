#include "platform/camera/v4l2_camera_source.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/camera/capture_ranges.h"
#include "platform/camera/pixel_conversion.h"

namespace {

constexpr int kBufferCount = 4;
// The capture thread also wakes this often without frames; stop() does not
// depend on it (it signals an eventfd), it only bounds a lost wake-up.
constexpr int kPollTimeoutMs = 100;

// Lower ranks win when two formats offer a size at the same rate. YUYV is
// uncompressed: no decoding cost and no JPEG artefacts, which flicker from
// frame to frame and would show up as false motion. libv4l2's emulated
// formats are a last resort: they cost a conversion inside libv4l2 first.
int formatRank(std::uint32_t PixelFormat, std::uint32_t Flags)
{
    int Rank;
    switch (PixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        Rank = 0;
        break;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        Rank = 1;
        break;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24:
        Rank = 2;
        break;
    default:
        return -1;  // not convertible
    }
    return (Flags & V4L2_FMT_FLAG_EMULATED) ? Rank + 3 : Rank;
}

bool isJpeg(std::uint32_t PixelFormat)
{
    return PixelFormat == V4L2_PIX_FMT_MJPEG || PixelFormat == V4L2_PIX_FMT_JPEG;
}

int bytesPerPixel(std::uint32_t PixelFormat)
{
    return PixelFormat == V4L2_PIX_FMT_YUYV ? 2 : 3;
}

double framesPerSecond(std::uint32_t Numerator, std::uint32_t Denominator)
{
    return Numerator == 0 || Denominator == 0 ? 0.0 : double(Denominator) / double(Numerator);
}

int retryIoctl(V4l2Io& Io, int Fd, unsigned long Request, void* Arg)
{
    int Result;
    do {
        Result = Io.ioctl(Fd, Request, Arg);
    } while (Result < 0 && errno == EINTR);
    return Result;
}

// Of a stepwise or continuous range of intervals, the one to ask for: that
// of the fastest standard rate inside it; {0, 0} for a broken range.
v4l2_fract fastestStandardInterval(const v4l2_frmivalenum& Range)
{
    const auto fraction = [](const v4l2_fract& F) { return IntervalFraction{F.numerator, F.denominator}; };
    const std::vector<double> Rates = standardRatesInRange(
        {fraction(Range.stepwise.min), fraction(Range.stepwise.max),
         Range.type == V4L2_FRMIVAL_TYPE_CONTINUOUS ? IntervalFraction{} : fraction(Range.stepwise.step)});
    if (Rates.empty())
        return {0, 0};
    // A standard rate is a whole number; anything else is the range's own fastest end.
    const double Fastest = Rates.front();
    return Fastest == std::floor(Fastest) ? v4l2_fract{1, std::uint32_t(Fastest)} : Range.stepwise.min;
}

// The fastest interval the device lists for one size of one format (as a
// fraction of a second); {0, 0} when it lists none.
v4l2_fract fastestInterval(V4l2Io& Io, int Fd, std::uint32_t PixelFormat, std::uint32_t Width, std::uint32_t Height)
{
    v4l2_fract Best{0, 0};
    for (std::uint32_t Index = 0;; ++Index) {
        v4l2_frmivalenum Interval{};
        Interval.index = Index;
        Interval.pixel_format = PixelFormat;
        Interval.width = Width;
        Interval.height = Height;
        if (retryIoctl(Io, Fd, VIDIOC_ENUM_FRAMEINTERVALS, &Interval) < 0)
            break;
        // Stepwise and continuous ranges come as one entry: the fastest
        // standard rate inside it (a range may reach 1000 frames a second
        // the camera merely tolerates).
        const v4l2_fract Candidate =
            Interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? Interval.discrete : fastestStandardInterval(Interval);
        if (Candidate.numerator == 0 || Candidate.denominator == 0)
            continue;
        // a/b shorter than c/d  <=>  a*d < c*b
        if (Best.numerator == 0
            || std::uint64_t(Candidate.numerator) * Best.denominator
                < std::uint64_t(Best.numerator) * Candidate.denominator)
            Best = Candidate;
        if (Interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            break;
    }
    return Best;
}

// Adds one size of one format to Offers: a new size at the end, a size
// already listed only replaces the earlier offer when this format is faster
// there (or as fast and preferred).
void addOffer(V4l2Io& Io, int Fd, const v4l2_fmtdesc& Format, int Rank, std::uint32_t Width, std::uint32_t Height,
              std::vector<V4l2CameraSource::Offer>& Offers)
{
    if (Width == 0 || Height == 0 || Width > 16384 || Height > 16384)
        return;
    const v4l2_fract Interval = fastestInterval(Io, Fd, Format.pixelformat, Width, Height);

    V4l2CameraSource::Offer New;
    New.Setting = TVideoCaptureSetting(int(Width), int(Height),
                                       framesPerSecond(Interval.numerator, Interval.denominator));
    New.PixelFormat = Format.pixelformat;
    New.IntervalNumerator = Interval.numerator;
    New.IntervalDenominator = Interval.denominator;
    New.Rank = Rank;

    auto Same = std::find_if(Offers.begin(), Offers.end(), [&](const V4l2CameraSource::Offer& O) {
        return O.Setting.Width == New.Setting.Width && O.Setting.Height == New.Setting.Height;
    });
    if (Same == Offers.end())
        Offers.push_back(New);
    else if (New.Setting.FrameRate > Same->Setting.FrameRate
             || (New.Setting.FrameRate == Same->Setting.FrameRate && New.Rank < Same->Rank))
        *Same = New;
}

// The sizes of one format: listed one by one, or as one stepwise or
// continuous range, of which the standard sizes inside it and on its step
// are offered (the range itself would be thousands of sizes the device
// merely tolerates).
void addFormatOffers(V4l2Io& Io, int Fd, const v4l2_fmtdesc& Format, int Rank,
                     std::vector<V4l2CameraSource::Offer>& Offers)
{
    for (std::uint32_t Index = 0;; ++Index) {
        v4l2_frmsizeenum Size{};
        Size.index = Index;
        Size.pixel_format = Format.pixelformat;
        if (retryIoctl(Io, Fd, VIDIOC_ENUM_FRAMESIZES, &Size) < 0)
            break;
        if (Size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            addOffer(Io, Fd, Format, Rank, Size.discrete.width, Size.discrete.height, Offers);
            continue;
        }
        const v4l2_frmsize_stepwise& R = Size.stepwise;
        const auto clamp = [](std::uint32_t V) { return int(std::min<std::uint32_t>(V, 16384)); };
        for (const auto& [Width, Height] : standardSizesInRange(
                 {clamp(R.min_width), clamp(R.max_width), clamp(R.step_width), clamp(R.min_height),
                  clamp(R.max_height), clamp(R.step_height)}))
            addOffer(Io, Fd, Format, Rank, std::uint32_t(Width), std::uint32_t(Height), Offers);
        break;
    }
}

bool isCaptureDevice(const v4l2_capability& Caps)
{
    // Since Linux 3.3 a driver tells what this very node can do in
    // device_caps; capabilities then covers the whole physical device.
    const std::uint32_t NodeCaps = (Caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? Caps.device_caps : Caps.capabilities;
    return (NodeCaps & V4L2_CAP_VIDEO_CAPTURE) && (NodeCaps & V4L2_CAP_STREAMING);
}

std::vector<V4l2CameraSource::Offer> listOffers(V4l2Io& Io, int Fd)
{
    std::vector<V4l2CameraSource::Offer> Offers;
    for (std::uint32_t Index = 0;; ++Index) {
        v4l2_fmtdesc Format{};
        Format.index = Index;
        Format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (retryIoctl(Io, Fd, VIDIOC_ENUM_FMT, &Format) < 0)
            break;
        const int Rank = formatRank(Format.pixelformat, Format.flags);
        if (Rank >= 0)
            addFormatOffers(Io, Fd, Format, Rank, Offers);
    }
    return Offers;
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

// A JPEG frame is delivered only when its header decodes to the size the
// device was set to and its end-of-image marker is there. That catches the
// usual damage (frames cut short when the USB bus drops packets) before the
// receiver sees the frame; a frame damaged in the middle still decodes, with
// the rest of it grey, as TurboJPEG leaves it.
bool jpegLooksWhole(tjhandle Decoder, const std::uint8_t* Data, std::size_t Size, int Width, int Height)
{
    if (Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8)
        return false;
    int JpegWidth = 0, JpegHeight = 0, Subsampling = 0, Colorspace = 0;
    if (tjDecompressHeader3(Decoder, Data, static_cast<unsigned long>(Size), &JpegWidth, &JpegHeight, &Subsampling,
                            &Colorspace)
        != 0)
        return false;
    if (JpegWidth != Width || JpegHeight != Height)
        return false;
    // Some cameras pad the buffer after the end marker; look back over a
    // little tail for it.
    const std::size_t Stop = Size > 4096 ? Size - 4096 : 0;
    for (std::size_t At = Size - 1; At > Stop; --At)
        if (Data[At - 1] == 0xFF && Data[At] == 0xD9)
            return true;
    return false;
}

class MappedFrame final : public CameraFrame {
public:
    MappedFrame(const std::uint8_t* Data, std::size_t Size, int Width, int Height, std::ptrdiff_t BytesPerLine,
                std::uint32_t PixelFormat, tjhandle Decoder)
        : m_data(Data), m_size(Size), m_width(Width), m_height(Height), m_bytesPerLine(BytesPerLine),
          m_pixelFormat(PixelFormat), m_decoder(Decoder)
    {
    }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        switch (m_pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
            yuyvToRgb32(m_data, m_bytesPerLine, Dst, BytesPerLine, m_width, m_height);
            break;
        case V4L2_PIX_FMT_RGB24:
            rgb24ToRgb32(m_data, m_bytesPerLine, Dst, BytesPerLine, m_width, m_height);
            break;
        case V4L2_PIX_FMT_BGR24:
            bgr24ToRgb32(m_data, m_bytesPerLine, Dst, BytesPerLine, m_width, m_height);
            break;
        default:
            mjpegToRgb32(m_decoder, m_data, m_size, Dst, BytesPerLine, m_width, m_height);
            break;
        }
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    int m_width;
    int m_height;
    std::ptrdiff_t m_bytesPerLine;
    std::uint32_t m_pixelFormat;
    tjhandle m_decoder;
};

}  // namespace

struct V4l2CameraSource::Capture {
    std::string Path;
    int Fd = -1;
    int WakeFd = -1;  // eventfd: stop() wakes the capture thread's poll; only stop() closes it
    bool Streaming = false;
    struct Buffer {
        void* Start = MAP_FAILED;
        std::size_t Length = 0;
    };
    std::vector<Buffer> Buffers;
    int Width = 0;
    int Height = 0;
    std::ptrdiff_t BytesPerLine = 0;
    std::uint32_t PixelFormat = 0;
    tjhandle Decoder = nullptr;
    CameraSink* Sink = nullptr;
    std::atomic<bool> StopRequested{false};
    std::thread Thread;
};

std::string noCameraMessage()
{
    return "quorl-eye: no camera found (no video capture device under /dev)";
}

// The two failures a user can fix, whichever call meets them: no access to
// the node (open), or another program holding the camera (mostly at S_FMT,
// REQBUFS or STREAMON; some drivers refuse the open itself).
std::string userFixableMessage(const std::string& Path, int Errno)
{
    if (Errno == EACCES || Errno == EPERM)
        return "quorl-eye: no permission to use " + Path + " (you may need to be in the 'video' group)";
    if (Errno == EBUSY)
        return "quorl-eye: " + Path + " is busy (another program is using it)";
    return {};
}

std::string cannotOpenMessage(const std::string& Path, int Errno)
{
    const std::string Fixable = userFixableMessage(Path, Errno);
    return !Fixable.empty() ? Fixable : "quorl-eye: cannot open " + Path + ": " + std::generic_category().message(Errno);
}

std::string cannotStartMessage(const std::string& Path, int Errno)
{
    const std::string Fixable = userFixableMessage(Path, Errno);
    return !Fixable.empty() ? Fixable : "quorl-eye: cannot start " + Path + ": " + std::generic_category().message(Errno);
}

std::string noUsableFormatMessage(const std::string& Path)
{
    return "quorl-eye: " + Path + " offers no picture format quorl-eye can show (YUYV, MJPEG or RGB)";
}

V4l2CameraSource::V4l2CameraSource(std::shared_ptr<V4l2Io> Io, MessageHandler Report)
    : m_io(std::move(Io)), m_report(Report ? std::move(Report) : MessageHandler(printLine))
{
    // At once, so that what is wrong with a camera is told at start.
    m_devices = listCameras();
}

// The capture devices present now, in node order. Every node is opened and
// asked afresh, except the one we stream from: it is there for as long as it
// streams, and a second open would only disturb it.
std::vector<V4l2CameraSource::Device> V4l2CameraSource::listCameras()
{
    std::vector<Device> Found;
    bool Complained = false;
    for (const std::string& Path : m_io->listDevices()) {
        if (m_capture && m_running && Path == m_capture->Path) {
            const auto Streaming = std::ranges::find(m_devices, Path, &Device::Path);
            if (Streaming != m_devices.end()) {
                Found.push_back(*Streaming);
                continue;
            }
        }
        const int Fd = m_io->open(Path.c_str(), O_RDWR | O_NONBLOCK);
        if (Fd < 0) {
            // A node pulled out between the directory listing and the open is
            // simply not there.
            if (errno != ENOENT && errno != ENODEV && errno != ENXIO) {
                tellOnce(Path, cannotOpenMessage(Path, errno));
                Complained = true;
            }
            continue;
        }
        v4l2_capability Caps{};
        const bool Capture = retryIoctl(*m_io, Fd, VIDIOC_QUERYCAP, &Caps) == 0 && isCaptureDevice(Caps);
        Device Listed{Path, Capture ? listOffers(*m_io, Fd) : std::vector<Offer>()};
        m_io->close(Fd);
        if (!Capture)
            continue;
        if (Listed.Offers.empty()) {
            tellOnce(Path, noUsableFormatMessage(Path));
            Complained = true;
            continue;
        }
        Found.push_back(std::move(Listed));
    }
    // Told again only after a camera was there in between.
    if (Found.empty() && !Complained)
        tellOnce(std::string(), noCameraMessage());
    else if (!Found.empty())
        m_told.erase(std::string());
    return Found;
}

// Every click on the camera icon tries the device again; a user who is told
// once that it is busy needs no new line per click.
void V4l2CameraSource::tellOnce(const std::string& Path, const std::string& Line)
{
    std::string& Last = m_told[Path];
    if (Last == Line)
        return;
    Last = Line;
    m_report(Line);
}

V4l2CameraSource::~V4l2CameraSource()
{
    stop();
}

const V4l2CameraSource::Device* V4l2CameraSource::device(TCameraKind Kind) const
{
    const std::size_t Index = Kind == TCameraKind::BackCamera ? 1 : 0;
    return Index < m_devices.size() ? &m_devices[Index] : nullptr;
}

std::vector<TVideoCaptureSetting> V4l2CameraSource::captureSettings(TCameraKind Kind)
{
    // Listed afresh at every ask, so a camera plugged in since the last one
    // is offered and one pulled out is not; resolveSetting() and start()
    // then go by this listing.
    m_devices = listCameras();
    std::vector<TVideoCaptureSetting> Settings;
    if (const Device* D = device(Kind))
        for (const Offer& O : D->Offers)
            Settings.push_back(O.Setting);
    return Settings;
}

TVideoCaptureSetting V4l2CameraSource::resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted)
{
    const Device* D = device(Kind);
    return D ? nearestOffer(D->Offers, Wanted).Setting : Wanted;
}

std::optional<TVideoCaptureSetting> V4l2CameraSource::start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                                            CameraSink& Sink)
{
    stop();  // joins the thread of a camera that vanished
    const Device* D = device(Kind);
    if (!D)
        return std::nullopt;
    const Offer& Chosen = nearestOffer(D->Offers, Setting);

    auto C = std::make_unique<Capture>();
    C->Path = D->Path;
    C->Sink = &Sink;
    C->Fd = m_io->open(D->Path.c_str(), O_RDWR | O_NONBLOCK);
    if (C->Fd < 0) {
        tellOnce(D->Path, cannotOpenMessage(D->Path, errno));
        return std::nullopt;
    }
    auto Fail = [&](int Error) -> std::optional<TVideoCaptureSetting> {
        tellOnce(D->Path, cannotStartMessage(D->Path, Error));
        releaseDevice(*C);
        if (C->WakeFd >= 0)
            ::close(C->WakeFd);
        return std::nullopt;
    };

    v4l2_format Format{};
    Format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Format.fmt.pix.width = std::uint32_t(Chosen.Setting.Width);
    Format.fmt.pix.height = std::uint32_t(Chosen.Setting.Height);
    Format.fmt.pix.pixelformat = Chosen.PixelFormat;
    Format.fmt.pix.field = V4L2_FIELD_ANY;
    if (retryIoctl(*m_io, C->Fd, VIDIOC_S_FMT, &Format) < 0 || retryIoctl(*m_io, C->Fd, VIDIOC_G_FMT, &Format) < 0)
        return Fail(errno);
    // The device may adjust the request; what it took is what we convert.
    if (formatRank(Format.fmt.pix.pixelformat, 0) < 0 || Format.fmt.pix.width == 0 || Format.fmt.pix.height == 0)
        return Fail(EINVAL);
    C->Width = int(Format.fmt.pix.width);
    C->Height = int(Format.fmt.pix.height);
    C->PixelFormat = Format.fmt.pix.pixelformat;
    C->BytesPerLine = std::max<std::ptrdiff_t>(Format.fmt.pix.bytesperline,
                                               std::ptrdiff_t(C->Width) * bytesPerPixel(C->PixelFormat));

    TVideoCaptureSetting InForce(C->Width, C->Height, Chosen.Setting.FrameRate);
    if (Chosen.IntervalNumerator != 0) {
        v4l2_streamparm Parm{};
        Parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Parm.parm.capture.timeperframe = {Chosen.IntervalNumerator, Chosen.IntervalDenominator};
        retryIoctl(*m_io, C->Fd, VIDIOC_S_PARM, &Parm);  // a device without frame-rate control keeps its own
    }
    v4l2_streamparm Parm{};
    Parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (retryIoctl(*m_io, C->Fd, VIDIOC_G_PARM, &Parm) == 0 && (Parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        const double Rate =
            framesPerSecond(Parm.parm.capture.timeperframe.numerator, Parm.parm.capture.timeperframe.denominator);
        if (Rate > 0.0)
            InForce.SetFrameRate(Rate);
    }

    v4l2_requestbuffers Request{};
    Request.count = kBufferCount;
    Request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Request.memory = V4L2_MEMORY_MMAP;
    if (retryIoctl(*m_io, C->Fd, VIDIOC_REQBUFS, &Request) < 0)
        return Fail(errno);
    if (Request.count == 0)
        return Fail(ENOMEM);
    for (std::uint32_t Index = 0; Index < Request.count; ++Index) {
        v4l2_buffer Buffer{};
        Buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Buffer.memory = V4L2_MEMORY_MMAP;
        Buffer.index = Index;
        if (retryIoctl(*m_io, C->Fd, VIDIOC_QUERYBUF, &Buffer) < 0)
            return Fail(errno);
        void* Start = m_io->mmap(nullptr, Buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, C->Fd, Buffer.m.offset);
        if (Start == MAP_FAILED)
            return Fail(errno);
        C->Buffers.push_back({Start, Buffer.length});
    }
    for (std::uint32_t Index = 0; Index < Request.count; ++Index) {
        v4l2_buffer Buffer{};
        Buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Buffer.memory = V4L2_MEMORY_MMAP;
        Buffer.index = Index;
        if (retryIoctl(*m_io, C->Fd, VIDIOC_QBUF, &Buffer) < 0)
            return Fail(errno);
    }
    if (isJpeg(C->PixelFormat) && !(C->Decoder = tjInitDecompress()))
        return Fail(ENOMEM);
    C->WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (C->WakeFd < 0)
        return Fail(errno);
    v4l2_buf_type Type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (retryIoctl(*m_io, C->Fd, VIDIOC_STREAMON, &Type) < 0)
        return Fail(errno);
    C->Streaming = true;
    m_told.erase(D->Path);  // a later failure is news again

    m_running = true;
    m_capture = std::move(C);
    Capture& Running = *m_capture;
    Running.Thread = std::thread([this, &Running] { captureLoop(Running); });
    return InForce;
}

void V4l2CameraSource::captureLoop(Capture& C)
{
    while (!C.StopRequested) {
        pollfd Fds[2] = {{C.Fd, POLLIN, 0}, {C.WakeFd, POLLIN, 0}};
        const int Ready = m_io->poll(Fds, 2, kPollTimeoutMs);
        if (C.StopRequested)
            return;
        if (Ready < 0 && errno != EINTR)
            break;
        if (Ready <= 0 || !Fds[0].revents)
            continue;
        if (Fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            break;

        v4l2_buffer Buffer{};
        Buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Buffer.memory = V4L2_MEMORY_MMAP;
        if (retryIoctl(*m_io, C.Fd, VIDIOC_DQBUF, &Buffer) < 0) {
            if (errno == EAGAIN)
                continue;
            break;  // ENODEV: unplugged; anything else leaves us no stream either
        }
        if (Buffer.index >= C.Buffers.size())
            break;

        const auto* Data = static_cast<const std::uint8_t*>(C.Buffers[Buffer.index].Start);
        const std::size_t Size = std::min<std::size_t>(Buffer.bytesused, C.Buffers[Buffer.index].Length);
        bool Whole = !(Buffer.flags & V4L2_BUF_FLAG_ERROR);
        if (Whole && isJpeg(C.PixelFormat))
            Whole = jpegLooksWhole(C.Decoder, Data, Size, C.Width, C.Height);
        else if (Whole)
            Whole = Size >= std::size_t(C.BytesPerLine) * std::size_t(C.Height - 1)
                    + std::size_t(C.Width) * std::size_t(bytesPerPixel(C.PixelFormat));
        if (Whole) {
            // The kernel stamps buffers on CLOCK_MONOTONIC, the clock behind
            // std::chrono::steady_clock on Linux.
            const bool Monotonic = (Buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
            const std::int64_t Stamp = Monotonic && (Buffer.timestamp.tv_sec || Buffer.timestamp.tv_usec)
                ? std::int64_t(Buffer.timestamp.tv_sec) * 1000000000 + std::int64_t(Buffer.timestamp.tv_usec) * 1000
                : steadyNowNs();
            const MappedFrame Frame(Data, Size, C.Width, C.Height, C.BytesPerLine, C.PixelFormat, C.Decoder);
            C.Sink->frameReady(Frame, Stamp);
        }
        // Only now may the device fill this buffer again.
        if (retryIoctl(*m_io, C.Fd, VIDIOC_QBUF, &Buffer) < 0)
            break;
    }
    if (C.StopRequested)
        return;
    // The camera vanished (or its stream broke): let go of the device here;
    // stop() will only join this thread.
    releaseDevice(C);
    m_running = false;
    C.Sink->sourceStopped();
}

void V4l2CameraSource::releaseDevice(Capture& C)
{
    if (C.Fd >= 0 && C.Streaming) {
        v4l2_buf_type Type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        retryIoctl(*m_io, C.Fd, VIDIOC_STREAMOFF, &Type);
    }
    C.Streaming = false;
    for (const Capture::Buffer& B : C.Buffers)
        m_io->munmap(B.Start, B.Length);
    C.Buffers.clear();
    if (C.Fd >= 0)
        m_io->close(C.Fd);
    C.Fd = -1;
    if (C.Decoder)
        tjDestroy(C.Decoder);
    C.Decoder = nullptr;
}

void V4l2CameraSource::stop()
{
    if (!m_capture)
        return;
    Capture& C = *m_capture;
    C.StopRequested = true;
    if (C.WakeFd >= 0) {
        const std::uint64_t One = 1;
        [[maybe_unused]] const ssize_t Written = ::write(C.WakeFd, &One, sizeof One);
    }
    if (C.Thread.joinable())
        C.Thread.join();
    releaseDevice(C);
    if (C.WakeFd >= 0)
        ::close(C.WakeFd);
    m_capture.reset();
    m_running = false;
}

bool V4l2CameraSource::isRunning() const
{
    return m_running;
}
