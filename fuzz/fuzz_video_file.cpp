// Plays each file given on the command line through the video file source
// and the conversion, as the program would but as fast as pictures decode:
// open, start, take frames into memory followed by a guard page, loop,
// stop, start again. A file refused with a reason is fine; a crash, a
// sanitizer report, a write past the picture, a frame that is not opaque
// or of the wrong size, or a run that does not end, is a finding.
//
//   quorl-fuzz-video FILE...      exit 0: every file played or was refused

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/camera/video_file_source.h"

namespace {

using namespace std::chrono_literals;

[[noreturn]] void fail(const char* What, const std::string& Path)
{
    std::fprintf(stderr, "FINDING: %s: %s\n", What, Path.c_str());
    std::fflush(stderr);
    std::abort();
}

// The frame's rows end where a PROT_NONE page begins: one byte too many
// faults at once, also inside libraries no sanitizer instruments.
class GuardedSink final : public CameraSink {
public:
    GuardedSink(int Width, int Height, int Wanted, std::string Path)
        : m_width(Width), m_height(Height), m_wanted(Wanted), m_path(std::move(Path))
    {
        const long Page = sysconf(_SC_PAGESIZE);
        m_bytes = std::size_t(Width) * std::size_t(Height) * 4;
        m_span = (m_bytes + std::size_t(Page) - 1) / std::size_t(Page) * std::size_t(Page);
        m_base = static_cast<std::uint8_t*>(
            mmap(nullptr, m_span + std::size_t(Page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (m_base == MAP_FAILED || mprotect(m_base + m_span, std::size_t(Page), PROT_NONE) != 0)
            fail("cannot map the guarded frame", m_path);
        m_page = std::size_t(Page);
    }
    ~GuardedSink() override { munmap(m_base, m_span + m_page); }

    void frameReady(const CameraFrame& Frame, std::int64_t) override
    {
        if (Frame.width() != m_width || Frame.height() != m_height)
            fail("frame size differs from the capture setting", m_path);
        std::uint8_t* Rows = m_base + (m_span - m_bytes);
        std::memset(Rows, 0, m_bytes);
        Frame.writeRgb32(Rows, std::ptrdiff_t(m_width) * 4);
        for (std::size_t I = 3; I < m_bytes; I += 4)
            if (Rows[I] != 0xFF)
                fail("frame not opaque", m_path);
        std::lock_guard Lock(m_mutex);
        if (++m_count >= m_wanted)
            m_done.notify_all();
    }

    // Waits until enough frames came or the source stopped by itself;
    // false when neither happened in time (a hang).
    bool wait(const VideoFileSource& Source)
    {
        const auto Deadline = std::chrono::steady_clock::now() + 20s;
        std::unique_lock Lock(m_mutex);
        while (m_count < m_wanted && Source.isRunning()) {
            if (std::chrono::steady_clock::now() > Deadline)
                return false;
            m_done.wait_for(Lock, 10ms);
        }
        return true;
    }

private:
    int m_width, m_height, m_wanted;
    std::string m_path;
    std::size_t m_bytes = 0, m_span = 0, m_page = 0;
    std::uint8_t* m_base = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_count = 0;
};

void play(const std::string& Path)
{
    std::string Error;
    auto Source = VideoFileSource::open(Path, Error, [](const std::string& Line) {
        std::printf("  told: %s\n", Line.c_str());
    });
    if (!Source) {
        if (Error.empty())
            fail("refused without a reason", Path);
        std::printf("refused: %s\n", Error.c_str());
        return;
    }
    const TVideoCaptureSetting S = Source->setting();
    if (S.Width < 1 || S.Height < 1 || S.Width > 8192 || S.Height > 8192 || !(S.FrameRate > 0.0))
        fail("absurd capture setting", Path);
    Source->setPaced(false);
    std::printf("plays: %s\n", settingText(S).c_str());
    // Enough frames to go round a short file a few times; then a second run,
    // which starts from the first picture again.
    for (int Wanted : {60, 5}) {
        GuardedSink Sink(S.Width, S.Height, Wanted, Path);
        if (!Source->start(TCameraKind::FrontCamera, S, Sink)) {
            std::printf("  start refused\n");
            return;
        }
        if (!Sink.wait(*Source))
            fail("hang: no frame and no stop for 20 s", Path);
        Source->stop();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorl-fuzz-video FILE...\n");
        return 2;
    }
    for (int I = 1; I < argc; ++I)
        play(argv[I]);
    return 0;
}
