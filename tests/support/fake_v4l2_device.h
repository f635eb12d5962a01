#pragma once

// V4L2 devices in memory behind the V4l2Io seam. A test describes device
// nodes (capabilities, formats, sizes, intervals, how S_FMT adjusts),
// queues frames into a streaming device, can pull a device away mid-stream,
// and reads back every call the source made and which descriptors and
// mappings are still open.
//
// Descriptors of the fake start at 1000; poll() also waits on real
// descriptors passed with them (the source's wake-up eventfd).

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/camera/v4l2_device.h"

struct FakeFrameSize {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::vector<v4l2_fract> Intervals;  // seconds per frame, as listed
};

struct FakeFormat {
    std::uint32_t PixelFormat = 0;
    std::vector<FakeFrameSize> Sizes;
    std::uint32_t Flags = 0;  // V4L2_FMT_FLAG_EMULATED for libv4l2's conversions
    bool Stepwise = false;    // sizes come as one stepwise range instead
};

struct FakeDeviceSetup {
    std::string Path;
    // A UVC webcam's capture node; metadataNode() below shows the other kind.
    std::uint32_t Capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
        | V4L2_CAP_DEVICE_CAPS;
    std::uint32_t DeviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeFormat> Formats;
    int OpenErrno = 0;   // open() fails with this
    int S_FMTErrno = 0;  // S_FMT fails with this (EBUSY: another program streams)
    std::uint32_t BytesPerLinePadding = 0;
    // Runs after S_FMT picked the nearest listed size of the asked format.
    std::function<void(v4l2_pix_format&)> AdjustFormat;
    std::optional<v4l2_fract> ForcedInterval;  // S_PARM takes this whatever is asked
    bool TimePerFrame = true;                  // false: no frame-rate control (S_PARM fails)
};

FakeDeviceSetup captureDevice(const std::string& Path, std::vector<FakeFormat> Formats);
FakeDeviceSetup metadataNode(const std::string& Path);

class FakeV4l2Io final : public V4l2Io {
public:
    enum class Vanish { PollError, DequeueError };

    explicit FakeV4l2Io(std::vector<FakeDeviceSetup> Devices = {});
    ~FakeV4l2Io() override;

    // Test side.
    void pushFrame(const std::string& Path, std::vector<std::uint8_t> Bytes, std::int64_t TimestampNs = 0,
                   std::uint32_t Flags = 0);
    void vanish(const std::string& Path, Vanish How);
    // One entry per call, e.g. "open /dev/video0", "S_FMT /dev/video0".
    std::vector<std::string> calls() const;
    int openDescriptors() const;
    int mappings() const;
    bool streaming(const std::string& Path) const;
    v4l2_pix_format format(const std::string& Path) const;
    int buffersQueued(const std::string& Path) const;
    int buffersHeld(const std::string& Path) const;  // dequeued by the source

    // V4l2Io.
    int open(const char* Path, int Flags) override;
    int close(int Fd) override;
    int ioctl(int Fd, unsigned long Request, void* Arg) override;
    void* mmap(void* Address, std::size_t Length, int Protection, int Flags, int Fd, std::int64_t Offset) override;
    int munmap(void* Address, std::size_t Length) override;
    int poll(pollfd* Fds, nfds_t Count, int TimeoutMs) override;
    std::vector<std::string> listDevices() override;

private:
    struct Buffer {
        std::vector<std::uint8_t> Memory;
        enum { Held, Queued, Done } State = Held;
        std::uint32_t BytesUsed = 0;
        std::uint32_t Flags = 0;
        std::int64_t TimestampNs = 0;
    };
    struct Frame {
        std::vector<std::uint8_t> Bytes;
        std::int64_t TimestampNs;
        std::uint32_t Flags;
    };
    struct Device {
        FakeDeviceSetup Setup;
        v4l2_pix_format Format{};
        v4l2_fract Interval{0, 0};
        std::vector<Buffer> Buffers;
        std::deque<std::uint32_t> Queued;
        std::deque<std::uint32_t> Done;
        std::deque<Frame> Pending;
        bool Streaming = false;
        bool Gone = false;
        Vanish How = Vanish::PollError;
        std::uint32_t Sequence = 0;
    };

    int fail(int Errno) const;
    Device* deviceOf(int Fd);
    Device* deviceAt(const std::string& Path);
    const Device* deviceAt(const std::string& Path) const;
    int handle(Device& D, unsigned long Request, void* Arg);
    void fillBuffers(Device& D);
    void wake();
    void log(const std::string& Entry);

    mutable std::mutex m_mutex;
    std::map<std::string, Device> m_devices;
    std::vector<std::string> m_order;
    std::map<int, std::string> m_open;
    std::map<void*, std::pair<std::string, std::uint32_t>> m_mapped;
    std::vector<std::vector<Buffer>> m_retired;  // freed by close, perhaps still mapped
    std::vector<std::string> m_calls;
    int m_nextFd = 1000;
    int m_wakeFd = -1;  // readable after a change a poller may wait for
};
