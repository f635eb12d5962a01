#include "support/fake_v4l2_device.h"

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

constexpr std::int64_t kOffsetStep = 1 << 20;  // QUERYBUF offset cookie per buffer
constexpr std::uint32_t kMaxBuffers = 8;

std::uint32_t bytesPerPixel(std::uint32_t PixelFormat)
{
    switch (PixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        return 2;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24:
        return 3;
    default:
        return 0;  // compressed
    }
}

double fps(v4l2_fract F)
{
    return double(F.denominator) / double(F.numerator);
}

}  // namespace

FakeDeviceSetup captureDevice(const std::string& Path, std::vector<FakeFormat> Formats)
{
    FakeDeviceSetup Setup;
    Setup.Path = Path;
    Setup.Formats = std::move(Formats);
    return Setup;
}

FakeDeviceSetup metadataNode(const std::string& Path)
{
    FakeDeviceSetup Setup;
    Setup.Path = Path;
    Setup.DeviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    Setup.Formats = {{v4l2_fourcc('U', 'V', 'C', 'H'), {}}};
    return Setup;
}

FakeV4l2Io::FakeV4l2Io(std::vector<FakeDeviceSetup> Devices) : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    for (auto& Setup : Devices) {
        m_order.push_back(Setup.Path);
        m_devices[Setup.Path].Setup = std::move(Setup);
    }
}

FakeV4l2Io::~FakeV4l2Io()
{
    ::close(m_wakeFd);
}

int FakeV4l2Io::fail(int Errno) const
{
    errno = Errno;
    return -1;
}

void FakeV4l2Io::wake()
{
    const std::uint64_t One = 1;
    [[maybe_unused]] const ssize_t Written = ::write(m_wakeFd, &One, sizeof One);
}

void FakeV4l2Io::log(const std::string& Entry)
{
    m_calls.push_back(Entry);
}

FakeV4l2Io::Device* FakeV4l2Io::deviceAt(const std::string& Path)
{
    auto It = m_devices.find(Path);
    return It == m_devices.end() ? nullptr : &It->second;
}

const FakeV4l2Io::Device* FakeV4l2Io::deviceAt(const std::string& Path) const
{
    auto It = m_devices.find(Path);
    return It == m_devices.end() ? nullptr : &It->second;
}

FakeV4l2Io::Device* FakeV4l2Io::deviceOf(int Fd)
{
    auto It = m_open.find(Fd);
    return It == m_open.end() ? nullptr : deviceAt(It->second);
}

// ---- test side ----

void FakeV4l2Io::pushFrame(const std::string& Path, std::vector<std::uint8_t> Bytes, std::int64_t TimestampNs,
                           std::uint32_t Flags)
{
    std::lock_guard Lock(m_mutex);
    Device& D = *deviceAt(Path);
    D.Pending.push_back({std::move(Bytes), TimestampNs, Flags});
    fillBuffers(D);
}

void FakeV4l2Io::vanish(const std::string& Path, Vanish How)
{
    std::lock_guard Lock(m_mutex);
    Device& D = *deviceAt(Path);
    D.Gone = true;
    D.How = How;
    wake();
}

std::vector<std::string> FakeV4l2Io::calls() const
{
    std::lock_guard Lock(m_mutex);
    return m_calls;
}

int FakeV4l2Io::openDescriptors() const
{
    std::lock_guard Lock(m_mutex);
    return int(m_open.size());
}

int FakeV4l2Io::mappings() const
{
    std::lock_guard Lock(m_mutex);
    return int(m_mapped.size());
}

bool FakeV4l2Io::streaming(const std::string& Path) const
{
    std::lock_guard Lock(m_mutex);
    return deviceAt(Path)->Streaming;
}

v4l2_pix_format FakeV4l2Io::format(const std::string& Path) const
{
    std::lock_guard Lock(m_mutex);
    return deviceAt(Path)->Format;
}

int FakeV4l2Io::buffersQueued(const std::string& Path) const
{
    std::lock_guard Lock(m_mutex);
    return int(deviceAt(Path)->Queued.size());
}

int FakeV4l2Io::buffersHeld(const std::string& Path) const
{
    std::lock_guard Lock(m_mutex);
    const auto& Buffers = deviceAt(Path)->Buffers;
    return int(std::count_if(Buffers.begin(), Buffers.end(), [](const Buffer& B) { return B.State == Buffer::Held; }));
}

// Moves pending frames into queued buffers, as the device does while streaming.
void FakeV4l2Io::fillBuffers(Device& D)
{
    while (D.Streaming && !D.Gone && !D.Pending.empty() && !D.Queued.empty()) {
        Buffer& B = D.Buffers[D.Queued.front()];
        const Frame& F = D.Pending.front();
        const std::size_t Size = std::min(F.Bytes.size(), B.Memory.size());
        std::memcpy(B.Memory.data(), F.Bytes.data(), Size);
        B.BytesUsed = std::uint32_t(Size);
        B.Flags = F.Flags;
        B.TimestampNs = F.TimestampNs;
        B.State = Buffer::Done;
        D.Done.push_back(D.Queued.front());
        D.Queued.pop_front();
        D.Pending.pop_front();
        wake();
    }
}

// ---- the seam ----

std::vector<std::string> FakeV4l2Io::listDevices()
{
    std::lock_guard Lock(m_mutex);
    return m_order;
}

int FakeV4l2Io::open(const char* Path, int)
{
    std::lock_guard Lock(m_mutex);
    log(std::string("open ") + Path);
    Device* D = deviceAt(Path);
    if (!D || D->Gone)
        return fail(ENOENT);
    if (D->Setup.OpenErrno)
        return fail(D->Setup.OpenErrno);
    m_open[m_nextFd] = Path;
    return m_nextFd++;
}

int FakeV4l2Io::close(int Fd)
{
    std::lock_guard Lock(m_mutex);
    auto It = m_open.find(Fd);
    if (It == m_open.end())
        return fail(EBADF);
    log("close " + It->second);
    // Closing the file ends its stream and frees its buffers; memory still
    // mapped stays valid until munmap.
    Device& D = *deviceAt(It->second);
    D.Streaming = false;
    D.Queued.clear();
    D.Done.clear();
    m_retired.push_back(std::move(D.Buffers));
    D.Buffers.clear();
    m_open.erase(It);
    return 0;
}

void* FakeV4l2Io::mmap(void*, std::size_t Length, int, int, int Fd, std::int64_t Offset)
{
    std::lock_guard Lock(m_mutex);
    Device* D = deviceOf(Fd);
    if (!D) {
        errno = EBADF;
        return MAP_FAILED;
    }
    log("mmap " + m_open[Fd]);
    const auto Index = std::uint32_t(Offset / kOffsetStep);
    if (D->Gone || Offset % kOffsetStep || Index >= D->Buffers.size() || Length > D->Buffers[Index].Memory.size()) {
        errno = D->Gone ? ENODEV : EINVAL;
        return MAP_FAILED;
    }
    void* Start = D->Buffers[Index].Memory.data();
    m_mapped[Start] = {m_open[Fd], Index};
    return Start;
}

int FakeV4l2Io::munmap(void* Address, std::size_t)
{
    std::lock_guard Lock(m_mutex);
    auto It = m_mapped.find(Address);
    if (It == m_mapped.end())
        return fail(EINVAL);
    log("munmap " + It->second.first);
    m_mapped.erase(It);
    return 0;
}

int FakeV4l2Io::ioctl(int Fd, unsigned long Request, void* Arg)
{
    std::lock_guard Lock(m_mutex);
    Device* D = deviceOf(Fd);
    if (!D)
        return fail(EBADF);
    return handle(*D, Request, Arg);
}

int FakeV4l2Io::handle(Device& D, unsigned long Request, void* Arg)
{
    const std::string& Path = D.Setup.Path;
    const FakeDeviceSetup& Setup = D.Setup;
    auto FindFormat = [&](std::uint32_t PixelFormat) -> const FakeFormat* {
        for (const auto& F : Setup.Formats)
            if (F.PixelFormat == PixelFormat)
                return &F;
        return nullptr;
    };
    auto FindSize = [&](std::uint32_t PixelFormat, std::uint32_t W, std::uint32_t H) -> const FakeFrameSize* {
        if (const FakeFormat* F = FindFormat(PixelFormat))
            for (const auto& S : F->Sizes)
                if (S.Width == W && S.Height == H)
                    return &S;
        return nullptr;
    };

    switch (Request) {
    case VIDIOC_QUERYCAP: {
        log("QUERYCAP " + Path);
        auto* Caps = static_cast<v4l2_capability*>(Arg);
        *Caps = {};
        std::strcpy(reinterpret_cast<char*>(Caps->driver), "fake");
        Caps->capabilities = Setup.Capabilities;
        Caps->device_caps = Setup.DeviceCaps;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* Desc = static_cast<v4l2_fmtdesc*>(Arg);
        const std::uint32_t NodeCaps =
            (Setup.Capabilities & V4L2_CAP_DEVICE_CAPS) ? Setup.DeviceCaps : Setup.Capabilities;
        if (Desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || Desc->index >= Setup.Formats.size()
            || !(NodeCaps & V4L2_CAP_VIDEO_CAPTURE))
            return fail(EINVAL);
        Desc->pixelformat = Setup.Formats[Desc->index].PixelFormat;
        Desc->flags = Setup.Formats[Desc->index].Flags;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* Size = static_cast<v4l2_frmsizeenum*>(Arg);
        const FakeFormat* F = FindFormat(Size->pixel_format);
        if (F && F->Stepwise && Size->index == 0) {
            Size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
            Size->stepwise = {160, 1920, 16, 120, 1080, 8};
            return 0;
        }
        if (!F || F->Stepwise || Size->index >= F->Sizes.size())
            return fail(EINVAL);
        Size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        Size->discrete = {F->Sizes[Size->index].Width, F->Sizes[Size->index].Height};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* Interval = static_cast<v4l2_frmivalenum*>(Arg);
        const FakeFrameSize* S = FindSize(Interval->pixel_format, Interval->width, Interval->height);
        if (!S || Interval->index >= S->Intervals.size())
            return fail(EINVAL);
        Interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        Interval->discrete = S->Intervals[Interval->index];
        return 0;
    }
    }

    // Everything below talks to the hardware: gone means gone.
    if (D.Gone)
        return fail(ENODEV);
    switch (Request) {
    case VIDIOC_S_FMT: {
        log("S_FMT " + Path);
        if (Setup.S_FMTErrno)
            return fail(Setup.S_FMTErrno);
        if (D.Streaming || !D.Buffers.empty())
            return fail(EBUSY);
        v4l2_pix_format& Pix = static_cast<v4l2_format*>(Arg)->fmt.pix;
        // Like a driver: an unknown format becomes the first one, a size the
        // nearest listed one.
        const FakeFormat* F = FindFormat(Pix.pixelformat);
        if (!F)
            F = &Setup.Formats.front();
        const FakeFrameSize* Best = nullptr;
        for (const auto& S : F->Sizes)
            if (!Best
                || std::abs(int(S.Width) - int(Pix.width)) + std::abs(int(S.Height) - int(Pix.height))
                    < std::abs(int(Best->Width) - int(Pix.width)) + std::abs(int(Best->Height) - int(Pix.height)))
                Best = &S;
        Pix.pixelformat = F->PixelFormat;
        if (Best) {
            Pix.width = Best->Width;
            Pix.height = Best->Height;
        }
        if (Setup.AdjustFormat)
            Setup.AdjustFormat(Pix);
        Pix.field = V4L2_FIELD_NONE;
        const std::uint32_t Bpp = bytesPerPixel(Pix.pixelformat);
        Pix.bytesperline = Bpp ? Pix.width * Bpp + Setup.BytesPerLinePadding : 0;
        Pix.sizeimage = Bpp ? Pix.bytesperline * Pix.height : Pix.width * Pix.height * 4 + 16384;
        D.Format = Pix;
        const FakeFrameSize* Taken = FindSize(Pix.pixelformat, Pix.width, Pix.height);
        D.Interval = Taken && !Taken->Intervals.empty() ? Taken->Intervals.front() : v4l2_fract{1, 30};
        return 0;
    }
    case VIDIOC_G_FMT:
        log("G_FMT " + Path);
        static_cast<v4l2_format*>(Arg)->fmt.pix = D.Format;
        return 0;
    case VIDIOC_S_PARM: {
        log("S_PARM " + Path);
        if (!Setup.TimePerFrame)
            return fail(ENOTTY);
        v4l2_fract& Asked = static_cast<v4l2_streamparm*>(Arg)->parm.capture.timeperframe;
        if (Setup.ForcedInterval) {
            D.Interval = *Setup.ForcedInterval;
        } else if (const FakeFrameSize* S = FindSize(D.Format.pixelformat, D.Format.width, D.Format.height)) {
            for (const v4l2_fract& I : S->Intervals)
                if (std::abs(fps(I) - fps(Asked)) < std::abs(fps(D.Interval) - fps(Asked)))
                    D.Interval = I;
        }
        Asked = D.Interval;
        static_cast<v4l2_streamparm*>(Arg)->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        return 0;
    }
    case VIDIOC_G_PARM: {
        log("G_PARM " + Path);
        auto* Parm = static_cast<v4l2_streamparm*>(Arg);
        Parm->parm.capture.capability = Setup.TimePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
        Parm->parm.capture.timeperframe = Setup.TimePerFrame ? D.Interval : v4l2_fract{0, 0};
        return 0;
    }
    case VIDIOC_REQBUFS: {
        log("REQBUFS " + Path);
        auto* Request = static_cast<v4l2_requestbuffers*>(Arg);
        if (Request->memory != V4L2_MEMORY_MMAP)
            return fail(EINVAL);
        if (D.Streaming)
            return fail(EBUSY);
        Request->count = std::min(Request->count, kMaxBuffers);
        D.Buffers.assign(Request->count, Buffer{});
        for (Buffer& B : D.Buffers)
            B.Memory.assign(D.Format.sizeimage, 0);
        D.Queued.clear();
        D.Done.clear();
        return 0;
    }
    }

    auto* B = static_cast<v4l2_buffer*>(Arg);
    switch (Request) {
    case VIDIOC_QUERYBUF:
        log("QUERYBUF " + Path);
        if (B->index >= D.Buffers.size())
            return fail(EINVAL);
        B->length = std::uint32_t(D.Buffers[B->index].Memory.size());
        B->m.offset = std::uint32_t(B->index * kOffsetStep);
        return 0;
    case VIDIOC_QBUF:
        log("QBUF " + Path);
        if (B->index >= D.Buffers.size() || D.Buffers[B->index].State != Buffer::Held)
            return fail(EINVAL);
        D.Buffers[B->index].State = Buffer::Queued;
        D.Queued.push_back(B->index);
        fillBuffers(D);
        return 0;
    case VIDIOC_DQBUF: {
        log("DQBUF " + Path);
        if (!D.Streaming)
            return fail(EINVAL);
        if (D.Done.empty())
            return fail(EAGAIN);
        const std::uint32_t Index = D.Done.front();
        D.Done.pop_front();
        Buffer& Done = D.Buffers[Index];
        Done.State = Buffer::Held;
        B->index = Index;
        B->bytesused = Done.BytesUsed;
        B->length = std::uint32_t(Done.Memory.size());
        B->flags = Done.Flags | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        B->timestamp.tv_sec = Done.TimestampNs / 1000000000;
        B->timestamp.tv_usec = (Done.TimestampNs % 1000000000) / 1000;
        B->sequence = D.Sequence++;
        return 0;
    }
    case VIDIOC_STREAMON:
        log("STREAMON " + Path);
        if (D.Buffers.empty())
            return fail(EINVAL);
        D.Streaming = true;
        fillBuffers(D);
        return 0;
    case VIDIOC_STREAMOFF:
        log("STREAMOFF " + Path);
        D.Streaming = false;
        for (Buffer& Each : D.Buffers)
            Each.State = Buffer::Held;
        D.Queued.clear();
        D.Done.clear();
        return 0;
    }
    return fail(ENOTTY);
}

// Waits like poll(2): fake descriptors are ready by the device's state, real
// ones by the kernel; a change on the fake side wakes the wait through
// m_wakeFd. The counter is drained before the state is read, so no change
// can slip between the two.
int FakeV4l2Io::poll(pollfd* Fds, nfds_t Count, int TimeoutMs)
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        std::uint64_t Drained;
        [[maybe_unused]] const ssize_t Read = ::read(m_wakeFd, &Drained, sizeof Drained);
        int Ready = 0;
        std::vector<pollfd> Real;
        std::vector<nfds_t> RealIndex;
        {
            std::lock_guard Lock(m_mutex);
            for (nfds_t I = 0; I < Count; ++I) {
                Fds[I].revents = 0;
                Device* D = deviceOf(Fds[I].fd);
                if (!D) {
                    Real.push_back(Fds[I]);
                    RealIndex.push_back(I);
                    continue;
                }
                if (D->Gone && D->How == Vanish::PollError)
                    Fds[I].revents = POLLERR | POLLHUP;
                else if (D->Gone || !D->Done.empty())
                    Fds[I].revents = Fds[I].events & POLLIN;
                else if (!D->Streaming)
                    Fds[I].revents = POLLERR;
                Ready += Fds[I].revents != 0;
            }
        }
        int Wait = 0;
        if (Ready == 0 && TimeoutMs != 0) {
            const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                Deadline - std::chrono::steady_clock::now());
            Wait = TimeoutMs < 0 ? -1 : int(std::max<std::int64_t>(Left.count(), 0));
        }
        Real.push_back({m_wakeFd, POLLIN, 0});
        if (::poll(Real.data(), Real.size(), Wait) < 0 && errno != EINTR)
            return -1;
        for (std::size_t I = 0; I + 1 < Real.size(); ++I) {
            Fds[RealIndex[I]].revents = Real[I].revents;
            Ready += Real[I].revents != 0;
        }
        if (Ready > 0 || (TimeoutMs >= 0 && std::chrono::steady_clock::now() >= Deadline))
            return Ready;
    }
}
