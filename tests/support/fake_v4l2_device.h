#pragma once

// V4L2 devices in memory behind the V4l2Io seam. A test describes the nodes,
// queues frames into the device the source has open, plugs nodes in and
// pulls them out, and reads back the calls the source made. One node streams
// at a time (as the source does); its descriptor is a real eventfd, readable
// while a filled buffer waits or the device is gone, so poll() is the
// kernel's own and also wakes on the source's stop eventfd. Other nodes may
// be opened meanwhile to list what they offer.

#include <linux/videodev2.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/camera/v4l2_device.h"

using Bytes = std::vector<std::uint8_t>;

struct FakeFrameSize {
    std::uint32_t Width = 0, Height = 0;
    std::vector<v4l2_fract> Intervals{};  // seconds per frame, as listed
};

struct FakeFormat {
    std::uint32_t PixelFormat = 0;
    std::vector<FakeFrameSize> Sizes{};  // none: one range of sizes instead
    std::uint32_t Flags = 0;  // V4L2_FMT_FLAG_EMULATED for libv4l2's conversions
    std::uint32_t SizeType = V4L2_FRMSIZE_TYPE_STEPWISE;  // of the range
    v4l2_frmsize_stepwise SizeRange{160, 1920, 16, 120, 1080, 8};
    // Set: every size of the format lists this one range of intervals.
    std::uint32_t IntervalType = 0;
    v4l2_frmival_stepwise IntervalRange{};
};

struct FakeDeviceSetup {
    std::string Path;
    std::vector<FakeFormat> Formats{};
    // A capture node: capabilities tell what the whole device does, device_caps this node.
    std::uint32_t Capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    std::uint32_t DeviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    // Calls the node refuses, by name as calls() logs them ("open", "S_FMT", "STREAMON", "mmap"...), with the errno.
    std::map<std::string, int> Refused{};
    std::uint32_t Padding = 0;  // bytes after each row of pixels
    // What the device makes of the format (S_FMT) or frame interval (S_PARM) it is asked for.
    std::function<void(v4l2_pix_format&, v4l2_fract&)> Adjust = [](v4l2_pix_format&, v4l2_fract&) {};
    bool Plugged = true;  // false: plugged in later, by plug()
};

class FakeV4l2Io final : public V4l2Io {
public:
    explicit FakeV4l2Io(std::vector<FakeDeviceSetup> Devices)
    {
        for (auto& Setup : Devices) {
            m_order.push_back(Setup.Path);
            (Setup.Plugged ? m_devices : m_unplugged)[Setup.Path] = std::move(Setup);
        }
    }

    void pushFrame(Bytes Frame, std::int64_t TimestampNs = 0, std::uint32_t Flags = 0);
    // Unplugged (by default the node opened last): every call on it fails
    // with ENODEV, opening it with ENOENT, and the node is no longer listed.
    void vanish(const std::string& Path = {});
    void plug();  // the unplugged nodes are (back) in, as set up
    void refuse(const std::string& Path, const std::string& Call, int Errno)  // from now on
    {
        std::lock_guard Lock(m_mutex);
        m_devices.at(Path).Refused[Call] = Errno;
    }
    // The calls made so far, as "open S_FMT G_FMT ... ".
    std::string calls() const { std::lock_guard Lock(m_mutex); return m_calls; }
    bool released() const  // descriptors and memory
    {
        std::lock_guard Lock(m_mutex);
        return m_fd < 0 && m_listing.empty() && m_mapped.empty();
    }
    v4l2_pix_format format() const { std::lock_guard Lock(m_mutex); return m_format; }
    // Frames the source has dequeued so far; waits up to 10 s for the count to reach Count.
    std::size_t dequeued() const { std::lock_guard Lock(m_mutex); return m_dequeued; }
    bool waitDequeued(std::size_t Count)
    {
        std::unique_lock Lock(m_mutex);
        return m_dequeuedMore.wait_for(Lock, std::chrono::seconds(10), [&] { return m_dequeued >= Count; });
    }
    std::size_t buffersHeld() const  // dequeued by the source and not queued again
    {
        std::lock_guard Lock(m_mutex);
        return m_buffers.size() - m_queued.size() - m_done.size();
    }

    int open(const char* Path, int Flags) override;
    int close(int Fd) override;
    int ioctl(int Fd, unsigned long Request, void* Arg) override;
    void* mmap(void* Address, std::size_t Length, int Protection, int Flags, int Fd, std::int64_t Offset) override;
    int munmap(void* Address, std::size_t Length) override;
    int poll(pollfd* Fds, nfds_t Count, int TimeoutMs) override { return ::poll(Fds, Count, TimeoutMs); }
    std::vector<std::string> listDevices() override;

private:
    struct Buffer {
        Bytes Memory;
        v4l2_buffer Filled{};  // index, bytesused, flags and timestamp of the frame in it
    };
    void update();
    void log(const char* Call) { (m_calls += Call) += ' '; }
    bool gone() const { return !m_devices.contains(m_path); }  // pulled away while open
    static int fail(int Errno) { errno = Errno; return -1; }
    int refused(const std::string& Path, const char* Call) const  // its errno, or 0
    {
        const auto It = m_devices.find(Path);
        return It == m_devices.end() || !It->second.Refused.contains(Call) ? 0 : It->second.Refused.at(Call);
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_dequeuedMore;
    std::size_t m_dequeued = 0;
    std::vector<std::string> m_order;
    std::map<std::string, FakeDeviceSetup> m_devices;
    std::map<std::string, FakeDeviceSetup> m_unplugged;
    std::string m_calls;
    std::set<void*> m_mapped;
    // The open node and its stream; buffers outlive close, as mapped memory does.
    int m_fd = -1;
    std::string m_path;
    std::map<int, std::string> m_listing;  // nodes opened while another one is open
    bool m_streaming = false;
    v4l2_pix_format m_format{};
    v4l2_fract m_interval{};
    std::vector<Buffer> m_buffers;
    std::deque<std::uint32_t> m_queued, m_done;
    std::deque<Buffer> m_pending;  // frames the camera has yet to deliver
};
