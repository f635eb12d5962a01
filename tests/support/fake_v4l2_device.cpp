#include "support/fake_v4l2_device.h"

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

void FakeV4l2Io::pushFrame(Bytes Frame, std::int64_t TimestampNs, std::uint32_t Flags)
{
    std::lock_guard Lock(m_mutex);
    v4l2_buffer& Filled = m_pending.emplace_back(Buffer{std::move(Frame), {}}).Filled;
    Filled.bytesused = std::uint32_t(m_pending.back().Memory.size());
    Filled.flags = Flags | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    Filled.timestamp = {time_t(TimestampNs / 1000000000), suseconds_t(TimestampNs % 1000000000 / 1000)};
    update();
}

void FakeV4l2Io::vanish(const std::string& Path)
{
    std::lock_guard Lock(m_mutex);
    if (auto Node = m_devices.extract(Path.empty() ? m_path : Path))
        m_unplugged.insert(std::move(Node));
    update();
}

void FakeV4l2Io::plug()
{
    std::lock_guard Lock(m_mutex);
    m_devices.merge(m_unplugged);
}

std::vector<std::string> FakeV4l2Io::listDevices()
{
    std::lock_guard Lock(m_mutex);
    std::vector<std::string> Present;
    std::ranges::copy_if(m_order, std::back_inserter(Present), [&](auto& Path) { return m_devices.contains(Path); });
    return Present;
}

// Fills queued buffers with pending frames, as a streaming camera does, and
// keeps the descriptor readable exactly while a filled buffer waits.
void FakeV4l2Io::update()
{
    for (; m_streaming && !gone() && !m_pending.empty() && !m_queued.empty();
         m_pending.pop_front(), m_queued.pop_front()) {
        Buffer& B = m_buffers[m_queued.front()];
        const Buffer& Frame = m_pending.front();
        std::copy_n(Frame.Memory.begin(), std::min(Frame.Memory.size(), B.Memory.size()), B.Memory.begin());
        B.Filled = Frame.Filled;  // bytesused may exceed the buffer, as the source must allow for
        B.Filled.index = m_done.emplace_back(m_queued.front());
    }
    std::uint64_t Count = 1;  // an eventfd counter: written to raise it, read to drain it
    [[maybe_unused]] const ssize_t Ignored = m_fd < 0 ? 0 : gone() || !m_done.empty() ? ::write(m_fd, &Count, 8)
                                                                                       : ::read(m_fd, &Count, 8);
}

int FakeV4l2Io::open(const char* Path, int)
{
    std::lock_guard Lock(m_mutex);
    log("open");
    if (!m_devices.contains(Path))
        return fail(ENOENT);
    if (const int Errno = refused(Path, "open"))
        return fail(Errno);
    const int Fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd >= 0)
        m_listing[Fd] = Path;
    else
        m_path = Path, m_fd = Fd;
    return Fd;
}

int FakeV4l2Io::close(int Fd)
{
    std::lock_guard Lock(m_mutex);
    if (Fd < 0 || (Fd != m_fd && !m_listing.erase(Fd)))
        return fail(EBADF);
    log("close");
    ::close(Fd);
    if (Fd == m_fd)
        m_fd = -1;
    return 0;
}

// QUERYBUF gives a buffer's index as its offset.
void* FakeV4l2Io::mmap(void*, std::size_t Length, int, int, int Fd, std::int64_t Offset)
{
    std::lock_guard Lock(m_mutex);
    if (Fd < 0 || Fd != m_fd || gone() || std::size_t(Offset) >= m_buffers.size()
        || Length != m_buffers[Offset].Memory.size() || refused(m_path, "mmap")) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    log("mmap");
    return *m_mapped.insert(m_buffers[Offset].Memory.data()).first;
}

int FakeV4l2Io::munmap(void* Address, std::size_t)
{
    std::lock_guard Lock(m_mutex);
    if (!m_mapped.erase(Address))
        return fail(EINVAL);
    log("munmap");
    return 0;
}

int FakeV4l2Io::ioctl(int Fd, unsigned long Request, void* Arg)
{
    std::lock_guard Lock(m_mutex);
    const bool Listing = m_listing.contains(Fd);
    if (Fd < 0 || (Fd != m_fd && !Listing))
        return fail(EBADF);
    const std::string& Path = Listing ? m_listing.at(Fd) : m_path;
    // Every call past the enumeration is logged, failed or not.
    static const std::map<unsigned long, const char*> Names = {{VIDIOC_S_FMT, "S_FMT"}, {VIDIOC_S_PARM, "S_PARM"},
        {VIDIOC_G_FMT, "G_FMT"}, {VIDIOC_G_PARM, "G_PARM"}, {VIDIOC_REQBUFS, "REQBUFS"}, {VIDIOC_QUERYBUF, "QUERYBUF"},
        {VIDIOC_QBUF, "QBUF"}, {VIDIOC_DQBUF, "DQBUF"}, {VIDIOC_STREAMON, "STREAMON"}, {VIDIOC_STREAMOFF, "STREAMOFF"}};
    if (Names.contains(Request))
        log(Names.at(Request));
    if (!m_devices.contains(Path))
        return fail(ENODEV);
    if (const int Errno = Names.contains(Request) ? refused(Path, Names.at(Request)) : 0)
        return fail(Errno);
    const FakeDeviceSetup& S = m_devices.at(Path);
    auto* Desc = static_cast<v4l2_fmtdesc*>(Arg);
    auto* Size = static_cast<v4l2_frmsizeenum*>(Arg);
    auto* Interval = static_cast<v4l2_frmivalenum*>(Arg);
    switch (Request) {
    case VIDIOC_QUERYCAP:
        static_cast<v4l2_capability*>(Arg)->capabilities = S.Capabilities;
        static_cast<v4l2_capability*>(Arg)->device_caps = S.DeviceCaps;
        return 0;
    case VIDIOC_ENUM_FMT:
        if (Desc->index >= S.Formats.size())
            return fail(EINVAL);
        Desc->pixelformat = S.Formats[Desc->index].PixelFormat;
        Desc->flags = S.Formats[Desc->index].Flags;
        return 0;
    case VIDIOC_ENUM_FRAMESIZES: {
        const auto F = std::ranges::find(S.Formats, Size->pixel_format, &FakeFormat::PixelFormat);
        if (F == S.Formats.end() || Size->index >= std::max<std::size_t>(F->Sizes.size(), 1))
            return fail(EINVAL);
        Size->type = F->Sizes.empty() ? F->SizeType : std::uint32_t(V4L2_FRMSIZE_TYPE_DISCRETE);
        Size->stepwise = F->SizeRange;  // the discrete size below, when listed
        if (!F->Sizes.empty())
            Size->discrete = {F->Sizes[Size->index].Width, F->Sizes[Size->index].Height};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS:
        for (const FakeFormat& F : S.Formats) {
            if (F.PixelFormat != Interval->pixel_format)
                continue;
            if (F.IntervalType && Interval->index == 0) {
                Interval->type = F.IntervalType;
                Interval->stepwise = F.IntervalRange;
                return 0;
            }
            for (const FakeFrameSize& Listed : F.Sizes)
                if (!F.IntervalType && Listed.Width == Interval->width && Listed.Height == Interval->height
                    && Interval->index < Listed.Intervals.size()) {
                    Interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                    Interval->discrete = Listed.Intervals[Interval->index];
                    return 0;
                }
        }
        return fail(EINVAL);
    }

    auto& Pix = static_cast<v4l2_format*>(Arg)->fmt.pix;
    auto& Parm = static_cast<v4l2_streamparm*>(Arg)->parm.capture;
    auto* B = static_cast<v4l2_buffer*>(Arg);
    switch (Request) {
    case VIDIOC_S_FMT: {
        S.Adjust(Pix, m_interval);
        // Bytes per pixel; none for JPEG, whose frames take what they need.
        const auto Bpp = Pix.pixelformat == V4L2_PIX_FMT_MJPEG ? 0 : Pix.pixelformat == V4L2_PIX_FMT_YUYV ? 2 : 3;
        Pix.bytesperline = Bpp ? Pix.width * Bpp + S.Padding : 0;
        Pix.sizeimage = Bpp ? Pix.bytesperline * Pix.height : Pix.width * Pix.height + 16384;
        m_format = Pix;
        break;
    }
    case VIDIOC_G_FMT:
        Pix = m_format;
        break;
    case VIDIOC_S_PARM:
        m_interval = Parm.timeperframe;
        S.Adjust(m_format, m_interval);
        [[fallthrough]];
    case VIDIOC_G_PARM:
        Parm.timeperframe = m_interval;
        Parm.capability = V4L2_CAP_TIMEPERFRAME;
        break;
    case VIDIOC_REQBUFS:
        m_buffers.assign(static_cast<v4l2_requestbuffers*>(Arg)->count, {Bytes(m_format.sizeimage)});
        [[fallthrough]];
    case VIDIOC_STREAMOFF:
        m_streaming = false;
        m_queued.clear();
        m_done.clear();
        break;
    case VIDIOC_QUERYBUF:
        if (B->index >= m_buffers.size())
            return fail(EINVAL);
        B->length = std::uint32_t(m_buffers[B->index].Memory.size());
        B->m.offset = B->index;
        break;
    case VIDIOC_QBUF:
        if (B->index >= m_buffers.size())
            return fail(EINVAL);
        m_queued.push_back(B->index);
        break;
    case VIDIOC_DQBUF:
        if (m_done.empty())
            return fail(EAGAIN);
        *B = m_buffers[m_done.front()].Filled;
        m_done.pop_front();
        ++m_dequeued;
        m_dequeuedMore.notify_all();
        break;
    case VIDIOC_STREAMON:
        m_streaming = !m_buffers.empty();
        break;
    default:
        return fail(ENOTTY);
    }
    update();
    return 0;
}
