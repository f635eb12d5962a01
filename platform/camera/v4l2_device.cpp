#include "platform/camera/v4l2_device.h"

#include <libv4l2.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <tuple>

namespace {

class LibV4l2Io final : public V4l2Io {
public:
    int open(const char* Path, int Flags) override { return v4l2_open(Path, Flags); }
    int close(int Fd) override { return v4l2_close(Fd); }
    int ioctl(int Fd, unsigned long Request, void* Arg) override { return v4l2_ioctl(Fd, Request, Arg); }
    void* mmap(void* Address, std::size_t Length, int Protection, int Flags, int Fd, std::int64_t Offset) override
    {
        return v4l2_mmap(Address, Length, Protection, Flags, Fd, Offset);
    }
    int munmap(void* Address, std::size_t Length) override { return v4l2_munmap(Address, Length); }
    int poll(pollfd* Fds, nfds_t Count, int TimeoutMs) override { return ::poll(Fds, Count, TimeoutMs); }

    std::vector<std::string> listDevices() override
    {
        std::vector<std::string> Paths;
        std::error_code Error;
        for (const auto& Entry : std::filesystem::directory_iterator("/dev", Error)) {
            const std::string Name = Entry.path().filename().string();
            if (Name.starts_with("video"))
                Paths.push_back(Entry.path().string());
        }
        return sortVideoNodes(std::move(Paths));
    }
};

// (has a number, the number, the path): numbered nodes first, by number.
std::tuple<bool, long, std::string> nodeKey(const std::string& Path)
{
    const std::size_t At = Path.rfind("video");
    long Number = 0;
    if (At != std::string::npos) {
        const char* First = Path.data() + At + 5;
        const char* Last = Path.data() + Path.size();
        const auto [End, Error] = std::from_chars(First, Last, Number);
        if (Error == std::errc() && End == Last)
            return {false, Number, Path};
    }
    return {true, 0, Path};
}

}  // namespace

std::shared_ptr<V4l2Io> systemV4l2Io()
{
    return std::make_shared<LibV4l2Io>();
}

std::vector<std::string> sortVideoNodes(std::vector<std::string> Paths)
{
    std::sort(Paths.begin(), Paths.end(),
              [](const std::string& A, const std::string& B) { return nodeKey(A) < nodeKey(B); });
    return Paths;
}
