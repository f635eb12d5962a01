#include "platform/camera/video_file_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <limits>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/camera/video_frame_converter.h"

namespace {

using Clock = std::chrono::steady_clock;

// Files announce absurd rates now and then (a base rate equal to the time
// base, 90000/1); a rate outside this range is not believed.
constexpr double MinFrameRate = 1.0 / 3600.0;
constexpr double MaxFrameRate = 1000.0;
constexpr double FallbackFrameRate = 25.0;

constexpr const char* UnknownFormat = "not a video file (unknown or damaged format)";

std::string damaged(const std::string& What)
{
    return "damaged or unsupported video (" + What + ")";
}

// The one line told when a playing file stops by itself, its control
// characters shown as escapes so that a name cannot rewrite the terminal.
void printLine(const std::string& Line)
{
    std::string Out;
    for (const char C : Line) {
        const auto Byte = static_cast<unsigned char>(C);
        if (Byte < 0x20 || Byte == 0x7F) {
            char Escape[5];
            std::snprintf(Escape, sizeof Escape, "\\x%02x", Byte);
            Out += Escape;
        } else {
            Out += C;
        }
    }
    std::fprintf(stderr, "%s\n", Out.c_str());
    std::fflush(stderr);
}

} // namespace

double videoFrameRate(int AverageNum, int AverageDen, int BaseNum, int BaseDen)
{
    for (auto [Num, Den] : {std::pair{AverageNum, AverageDen}, std::pair{BaseNum, BaseDen}}) {
        if (Num <= 0 || Den <= 0)
            continue;
        const double Rate = double(Num) / double(Den);
        if (Rate >= MinFrameRate && Rate <= MaxFrameRate)
            return Rate;
    }
    return FallbackFrameRate;
}

Clock::time_point nextFrameDue(Clock::time_point Due, Clock::time_point Now, Clock::duration Period)
{
    return std::max(Due + Period, Now);
}

std::string videoOpenFailure(VideoOpenStep Step, int AvError, const std::string& Codec)
{
    // A header that declares an absurd size makes FFmpeg run out of memory
    // (or give up with an unrelated code) long before a picture exists.
    if (AvError == AVERROR(ENOMEM))
        return "video too large (more memory than there is to decode it)";
    switch (Step) {
    case VideoOpenStep::OpenFile:
        // Only the file system's own answers keep their words.
        if (AvError == AVERROR(ENOENT) || AvError == AVERROR(EACCES) || AvError == AVERROR(EPERM)
            || AvError == AVERROR(EISDIR))
            return std::generic_category().message(AVUNERROR(AvError));
        if (AvError == AVERROR_INVALIDDATA)
            return UnknownFormat;
        return damaged("its header cannot be read");
    case VideoOpenStep::ReadStreams:
        return damaged("its streams cannot be read");
    case VideoOpenStep::FindDecoder:
        return damaged(Codec == "none" || Codec.empty() ? "unknown codec" : "no decoder for " + Codec);
    case VideoOpenStep::OpenDecoder:
        return damaged("the " + Codec + " decoder refuses it");
    case VideoOpenStep::DecodePicture:
        return damaged("no " + Codec + " picture could be decoded");
    case VideoOpenStep::ConvertPicture:
        return damaged("its " + Codec + " pictures cannot be converted");
    }
    return damaged("unknown reason");
}

Clock::duration videoFrameInterval(double Previous, double Next, Clock::duration Nominal)
{
    const double Gap = Next - Previous;  // NaN when either is unknown
    if (!(Gap > 0.0 && Gap <= 1.0 / MinFrameRate))
        return Nominal;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(Gap));
}

// The FFmpeg side: demuxer, decoder and the converter to RGB32. Used by one
// thread at a time (the opener, then the source's thread; the sink's
// writeRgb32 runs while that thread waits in frameReady).
//
// It is also the frame being delivered: the current picture is converted
// straight into the sink's bitmap while the source's thread waits in
// frameReady, so a frame costs one conversion and no copy, and a frame the
// sink drops costs none.
class VideoFileSource::Decoder final : public CameraFrame {
public:
    // The window keeps four bitmaps of the capture size; beyond 8192 x 8192
    // (8K video fits) they would take gigabytes, so such a file is refused.
    static constexpr int MaxVideoSide = 8192;
    static std::string tooLarge(int Width, int Height)
    {
        if (Width <= MaxVideoSide && Height <= MaxVideoSide)
            return {};
        return "video too large (" + std::to_string(Width) + " x " + std::to_string(Height) + "; at most " +
               std::to_string(MaxVideoSide) + " x " + std::to_string(MaxVideoSide) + ")";
    }

    ~Decoder()
    {
        closeFile();
        av_frame_free(&m_first);
        av_frame_free(&m_picture);
        av_packet_free(&m_packet);
    }

    // Empty on success, else why the file cannot be played.
    std::string open(const std::string& Path)
    {
        namespace fs = std::filesystem;
        std::error_code Ec;
        const fs::file_status Status = fs::status(Path, Ec);
        if (fs::is_directory(Status))
            return std::make_error_code(std::errc::is_a_directory).message();
        // Only a file can be played in a loop: a pipe or a device has no way
        // back to its start, and opening a pipe nobody writes to would wait
        // for ever.
        if (fs::exists(Status) && !fs::is_regular_file(Status))
            return std::string("not a regular file (") + (fs::is_fifo(Status)       ? "a pipe"
                                                          : fs::is_socket(Status) ? "a socket"
                                                                                  : "a device") + ")";
        if (fs::is_regular_file(Status) && fs::file_size(Path, Ec) == 0)
            return "the file is empty";

        m_path = Path;
        m_packet = av_packet_alloc();
        m_picture = av_frame_alloc();
        m_first = av_frame_alloc();
        if (!m_packet || !m_picture || !m_first)
            return videoOpenFailure(VideoOpenStep::OpenFile, AVERROR(ENOMEM), {});
        if (std::string Why = openFile(); !Why.empty())
            return Why;

        // Only a decoded picture proves the file playable (a cut-off file
        // still has a readable header). Its size is the size of the frames.
        if (next() != Result::Picture)
            return videoOpenFailure(VideoOpenStep::DecodePicture, 0, m_codecName);
        if (const std::string Large = tooLarge(m_picture->width, m_picture->height); !Large.empty())
            return Large;
        const AVStream* Stream = m_format->streams[m_stream];
        m_converter = std::make_unique<VideoFrameConverter>(m_picture->width, m_picture->height,
                                                            streamRotation(Stream));
        if (!m_converter->prepare(*m_picture))
            return videoOpenFailure(VideoOpenStep::ConvertPicture, 0, m_codecName);
        m_frameRate = videoFrameRate(Stream->avg_frame_rate.num, Stream->avg_frame_rate.den,
                                     Stream->r_frame_rate.num, Stream->r_frame_rate.den);
        m_firstStamp = m_picture->best_effort_timestamp;
        if (av_frame_ref(m_first, m_picture) < 0)
            return videoOpenFailure(VideoOpenStep::DecodePicture, AVERROR(ENOMEM), m_codecName);
        // A file of one picture (a JPEG or PNG image, a one-frame clip) is
        // a camera looking at something still: that picture, again and
        // again, at a steady rate, with nothing more to decode.
        if (next() != Result::Picture) {
            m_still = true;
            av_frame_unref(m_picture);
            av_frame_ref(m_picture, m_first);
            closeFile();
        }
        return {};
    }

    int width() const override { return m_converter->width(); }
    int height() const override { return m_converter->height(); }
    double frameRate() const { return m_frameRate; }
    int rotation() const { return m_converter->rotation(); }

    // Moves on to the next picture of the loop: at the end of the file it
    // starts again from the first picture. False when a whole pass, even
    // through the file opened anew, gives no picture: the file has been
    // cut, overwritten or damaged while it played.
    bool advance()
    {
        if (m_still)
            return true;
        for (;;) {
            if (next() == Result::Picture) {
                // A seek that lands beyond the first picture (MPEG-TS, a
                // file cut short) is made good by opening the file anew;
                // from then on every loop does so.
                if (m_atStart && m_picture->best_effort_timestamp != m_firstStamp && !m_reopened) {
                    m_seekUnreliable = true;
                    if (!reopen())
                        return false;
                    continue;
                }
                m_atStart = false;
                m_reopened = false;
                ++m_passPictures;
                return true;
            }
            if (m_passPictures == 0) {
                m_seekUnreliable = true;
                if (m_reopened || !reopen())
                    return false;
                continue;
            }
            if (!rewind())
                return false;
        }
    }

    // Back to the first picture: a seek, else the file opened anew.
    bool rewind()
    {
        if (m_still)
            return true;
        m_passPictures = 0;
        if (!m_seekUnreliable && m_format) {
            const AVStream* Stream = m_format->streams[m_stream];
            const std::int64_t Start = Stream->start_time == AV_NOPTS_VALUE ? 0 : Stream->start_time;
            if (av_seek_frame(m_format, m_stream, Start, AVSEEK_FLAG_BACKWARD) >= 0
                || av_seek_frame(m_format, -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
                avcodec_flush_buffers(m_codec);
                m_draining = false;
                m_atStart = true;
                m_reopened = false;
                return true;
            }
        }
        return reopen();
    }

    // The current picture's time stamp in seconds; NaN when it has none.
    double pictureSeconds() const
    {
        if (m_still || m_picture->best_effort_timestamp == AV_NOPTS_VALUE)
            return std::numeric_limits<double>::quiet_NaN();
        return double(m_picture->best_effort_timestamp) * av_q2d(m_timeBase);
    }

    bool prepareConverter() { return m_converter->prepare(*m_picture); }

    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        m_converter->write(*m_picture, Dst, BytesPerLine);
    }

private:
    enum class Result { Picture, EndOfPass };

    // The clockwise quarter turn the file asks for (phones store upright
    // video lying on its side, with a display matrix saying so).
    static int streamRotation(const AVStream* Stream)
    {
        const std::uint8_t* Matrix = nullptr;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
        if (const AVPacketSideData* Side = av_packet_side_data_get(
                Stream->codecpar->coded_side_data, Stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
            Side && Side->size >= 9 * sizeof(std::int32_t))
            Matrix = Side->data;
#else
        size_t Size = 0;
        Matrix = av_stream_get_side_data(Stream, AV_PKT_DATA_DISPLAYMATRIX, &Size);
        if (Size < 9 * sizeof(std::int32_t))
            Matrix = nullptr;
#endif
        return videoRotation(reinterpret_cast<const std::int32_t*>(Matrix));
    }

    // Opens m_path's container and its video decoder; empty on success.
    std::string openFile()
    {
        // Always a local file: a name like "concat:x" or "http://x" must not
        // be taken for one of FFmpeg's other protocols.
        AVDictionary* Options = nullptr;
        av_dict_set(&Options, "protocol_whitelist", "file", 0);
        int R = avformat_open_input(&m_format, ("file:" + m_path).c_str(), nullptr, &Options);
        av_dict_free(&Options);
        if (R < 0)
            return videoOpenFailure(VideoOpenStep::OpenFile, R, {});
        // A text file named *.nfo, *.asc, *.ans... is taken by FFmpeg for
        // ANSI art and "plays" as a picture of its characters: no video.
        if (std::string_view(m_format->iformat->name) == "tty")
            return "not a video file (text)";
        R = avformat_find_stream_info(m_format, nullptr);
        if (R < 0) {
            // A header declaring a giant picture fails here with whatever
            // code the demuxer chose; its size says more.
            for (unsigned I = 0; I < m_format->nb_streams; ++I) {
                const AVCodecParameters* Par = m_format->streams[I]->codecpar;
                if (Par->codec_type == AVMEDIA_TYPE_VIDEO)
                    if (std::string Large = tooLarge(Par->width, Par->height); !Large.empty())
                        return Large;
            }
            return videoOpenFailure(VideoOpenStep::ReadStreams, R, {});
        }
        // A container whose index is lost (an MP4 cut short) opens empty.
        if (m_format->nb_streams == 0)
            return UnknownFormat;

        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        // A cover picture in a music file is no video either.
        if (m_stream < 0 || (m_format->streams[m_stream]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return "not a video file (no video stream)";
        const AVStream* Stream = m_format->streams[m_stream];
        const AVCodecParameters* Par = Stream->codecpar;
        m_timeBase = Stream->time_base;
        if (const std::string Large = tooLarge(Par->width, Par->height); !Large.empty())
            return Large;
        m_codecName = avcodec_get_name(Par->codec_id);
        const AVCodec* Codec = avcodec_find_decoder(Par->codec_id);
        if (!Codec)
            return videoOpenFailure(VideoOpenStep::FindDecoder, 0, m_codecName);

        m_codec = avcodec_alloc_context3(Codec);
        if (!m_codec)
            return videoOpenFailure(VideoOpenStep::OpenDecoder, AVERROR(ENOMEM), m_codecName);
        m_codec->thread_count = 0;  // as many as the machine has: big files keep their rate
        R = avcodec_parameters_to_context(m_codec, Par);
        // A picture that grows past the limit midway is refused by the
        // decoder instead of being allocated.
        m_codec->max_pixels = std::int64_t(MaxVideoSide) * MaxVideoSide;
        if (R >= 0)
            R = avcodec_open2(m_codec, Codec, nullptr);
        if (R < 0)
            return videoOpenFailure(VideoOpenStep::OpenDecoder, R, m_codecName);
        m_draining = false;
        return {};
    }

    void closeFile()
    {
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    // The file opened anew, at its first picture; the size, rotation and
    // rate found at the first opening stay (pictures of another size are
    // scaled to it).
    bool reopen()
    {
        closeFile();
        m_reopened = true;
        m_atStart = false;
        m_passPictures = 0;
        if (openFile().empty())
            return true;
        closeFile();
        return false;
    }

    // Decodes the next picture of the video stream. Damaged packets are
    // skipped; EndOfPass comes at the end of the file and when reading it
    // fails.
    Result next()
    {
        for (;;) {
            int R = avcodec_receive_frame(m_codec, m_picture);
            if (R == 0)
                return Result::Picture;
            if (m_draining)
                return Result::EndOfPass;  // drained, or a last picture failed
            // Any other receive error concerns a damaged picture: read on.

            R = av_read_frame(m_format, m_packet);
            if (R == AVERROR_EOF || R < 0) {
                // Pictures the decoder still holds come out before the end.
                avcodec_send_packet(m_codec, nullptr);
                m_draining = true;
                continue;
            }
            if (m_packet->stream_index == m_stream)
                avcodec_send_packet(m_codec, m_packet);  // a damaged packet is skipped
            av_packet_unref(m_packet);
        }
    }

    std::string m_path;
    std::string m_codecName;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_picture = nullptr;
    AVFrame* m_first = nullptr;  // the first picture, kept for a still image
    std::unique_ptr<VideoFrameConverter> m_converter;
    int m_stream = -1;
    AVRational m_timeBase{1, 1};
    bool m_draining = false;
    bool m_still = false;
    double m_frameRate = 0.0;
    std::int64_t m_firstStamp = AV_NOPTS_VALUE;
    bool m_atStart = false;         // a seek back has just been made
    bool m_reopened = false;        // opened anew, no picture since
    bool m_seekUnreliable = false;  // seeks missed the first picture: reopen instead
    int m_passPictures = 0;         // pictures since the last return to the start
};

std::unique_ptr<VideoFileSource> VideoFileSource::open(const std::string& Path, std::string& Error,
                                                       MessageHandler Report)
{
    // FFmpeg's own diagnostics would come on top of our one line, and a
    // damaged stretch of a playing file would flood the terminal.
    av_log_set_level(AV_LOG_QUIET);

    auto Dec = std::make_unique<Decoder>();
    const std::string Why = Dec->open(Path);
    if (!Why.empty()) {
        Error = "quorl-eye: cannot open video file '" + Path + "': " + Why;
        return nullptr;
    }
    Error.clear();
    return std::unique_ptr<VideoFileSource>(
        new VideoFileSource(std::move(Dec), Path, Report ? std::move(Report) : MessageHandler(printLine)));
}

VideoFileSource::VideoFileSource(std::unique_ptr<Decoder> Dec, std::string Path, MessageHandler Report)
    : m_decoder(std::move(Dec)), m_setting(m_decoder->width(), m_decoder->height(), m_decoder->frameRate()),
      m_path(std::move(Path)), m_report(std::move(Report))
{
    m_period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_setting.FrameRate));
}

int VideoFileSource::rotation() const
{
    return m_decoder->rotation();
}

VideoFileSource::~VideoFileSource()
{
    stop();
}

std::vector<TVideoCaptureSetting> VideoFileSource::captureSettings(TCameraKind)
{
    return {m_setting};
}

TVideoCaptureSetting VideoFileSource::resolveSetting(TCameraKind, const TVideoCaptureSetting&)
{
    return m_setting;
}

std::optional<TVideoCaptureSetting> VideoFileSource::start(TCameraKind, const TVideoCaptureSetting&,
                                                           CameraSink& Sink)
{
    // A thread that ended by itself (the file became unreadable) is reaped.
    if (m_thread.joinable())
        m_thread.join();
    // Every run shows the file from its first picture.
    if (!m_decoder->rewind())
        return std::nullopt;
    {
        std::lock_guard Lock(m_mutex);
        m_stopRequested = false;
    }
    m_running = true;
    m_thread = std::thread([this, &Sink] { run(Sink); });
    return m_setting;
}

void VideoFileSource::stop()
{
    {
        std::lock_guard Lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_running = false;
}

bool VideoFileSource::isRunning() const
{
    return m_running;
}

bool VideoFileSource::waitUntil(Clock::time_point Due)
{
    std::unique_lock Lock(m_mutex);
    if (!m_paced)
        return !m_stopRequested;
    return !m_wake.wait_until(Lock, Due, [this] { return m_stopRequested; });
}

void VideoFileSource::run(CameraSink& Sink)
{
    // Each picture is shown for the gap between its time stamp and the
    // next one's, so a variable-rate file keeps its own pace; where stamps
    // are missing or start again (the loop), the file's rate fills in.
    Clock::time_point Due = Clock::now();
    Clock::time_point DeliveredAt = Due;
    double Previous = std::numeric_limits<double>::quiet_NaN();
    bool First = true;
    for (;;) {
        // Decoding comes before the wait, so its time is part of the frame
        // interval rather than added to it.
        if (!m_decoder->advance()) {
            m_report("quorl-eye: video file '" + m_path
                     + "' stopped playing: it can no longer be decoded (changed or damaged while it played)");
            break;
        }
        const double Seconds = m_decoder->pictureSeconds();
        if (!First)
            Due = nextFrameDue(Due, DeliveredAt, videoFrameInterval(Previous, Seconds, m_period));
        First = false;
        Previous = Seconds;
        // A picture no converter exists for keeps its time but is not shown.
        const bool Showable = m_decoder->prepareConverter();
        if (!waitUntil(Due))
            return;  // stop() is joining us and clears m_running
        if (Showable) {
            const auto Stamp =
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
            Sink.frameReady(*m_decoder, Stamp.count());
        }
        DeliveredAt = Clock::now();
    }
    m_running = false;
}
