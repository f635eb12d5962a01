#pragma once

// The kernel as the V4L2 camera source sees it: the handful of calls it
// makes on video device nodes. The real implementation goes through libv4l2
// (which adds RGB conversions for formats a device cannot deliver itself);
// the tests put a fake device behind the same calls.
//
// Every call behaves like its POSIX namesake: -1 (or MAP_FAILED) and errno
// on failure.

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class V4l2Io {
public:
    virtual ~V4l2Io() = default;
    virtual int open(const char* Path, int Flags) = 0;
    virtual int close(int Fd) = 0;
    virtual int ioctl(int Fd, unsigned long Request, void* Arg) = 0;
    virtual void* mmap(void* Address, std::size_t Length, int Protection, int Flags, int Fd, std::int64_t Offset) = 0;
    virtual int munmap(void* Address, std::size_t Length) = 0;
    virtual int poll(pollfd* Fds, nfds_t Count, int TimeoutMs) = 0;
    // The video device nodes, /dev/video0 first (see sortVideoNodes).
    virtual std::vector<std::string> listDevices() = 0;
};

// libv4l2 over the real device nodes.
std::shared_ptr<V4l2Io> systemV4l2Io();

// Orders device paths by the number after "video" (video2 before video10);
// anything else after them, by name.
std::vector<std::string> sortVideoNodes(std::vector<std::string> Paths);
