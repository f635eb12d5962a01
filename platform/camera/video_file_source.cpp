#include "platform/camera/video_file_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

// Files announce absurd rates now and then (a base rate equal to the time
// base, 90000/1); a rate outside this range is not believed.
constexpr double MinFrameRate = 1.0 / 3600.0;
constexpr double MaxFrameRate = 1000.0;
constexpr double FallbackFrameRate = 25.0;

// Frames leave the source as Format_RGB32 bytes: B, G, R, 0xFF. For pictures
// without alpha, swscale fills the fourth byte of BGRA with 0xFF.
constexpr AVPixelFormat Rgb32 = AV_PIX_FMT_BGRA;

constexpr const char* UnknownFormat = "not a video file (unknown or damaged format)";

std::string averror(int Code)
{
    char Text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(Code, Text, sizeof Text);
    return Text;
}

// The decoder's picture formats that carry full-range luma by name.
bool isFullRangeFormat(int Format)
{
    return Format == AV_PIX_FMT_YUVJ420P || Format == AV_PIX_FMT_YUVJ422P || Format == AV_PIX_FMT_YUVJ444P
        || Format == AV_PIX_FMT_YUVJ440P || Format == AV_PIX_FMT_YUVJ411P;
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

    enum class Result { Picture, EndOfFile, Unreadable };

    ~Decoder()
    {
        sws_freeContext(m_scaler);
        av_frame_free(&m_picture);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
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

        // Always a local file: a name like "concat:x" or "http://x" must not
        // be taken for one of FFmpeg's other protocols.
        AVDictionary* Options = nullptr;
        av_dict_set(&Options, "protocol_whitelist", "file", 0);
        int R = avformat_open_input(&m_format, ("file:" + Path).c_str(), nullptr, &Options);
        av_dict_free(&Options);
        if (R == AVERROR_INVALIDDATA)
            return UnknownFormat;
        if (R < 0)
            return averror(R);
        // A text file named *.nfo, *.asc, *.ans... is taken by FFmpeg for
        // ANSI art and "plays" as a picture of its characters: no video.
        if (std::string_view(m_format->iformat->name) == "tty")
            return "not a video file (text)";
        R = avformat_find_stream_info(m_format, nullptr);
        if (R < 0)
            return "not a video file (" + averror(R) + ")";
        // A container whose index is lost (an MP4 cut short) opens empty.
        if (m_format->nb_streams == 0)
            return UnknownFormat;

        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        // A cover picture in a music file is no video either.
        if (m_stream < 0 || (m_format->streams[m_stream]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return "not a video file (no video stream)";
        const AVCodecParameters* Par = m_format->streams[m_stream]->codecpar;
        if (const std::string Large = tooLarge(Par->width, Par->height); !Large.empty())
            return Large;
        const std::string CodecName = avcodec_get_name(Par->codec_id);
        const AVCodec* Codec = avcodec_find_decoder(Par->codec_id);
        if (!Codec)
            return "cannot decode video (codec " + CodecName + " unsupported)";

        m_codec = avcodec_alloc_context3(Codec);
        m_packet = av_packet_alloc();
        m_picture = av_frame_alloc();
        if (!m_codec || !m_packet || !m_picture)
            return averror(AVERROR(ENOMEM));
        m_codec->thread_count = 0;  // as many as the machine has: big files keep their rate
        R = avcodec_parameters_to_context(m_codec, Par);
        // A picture that grows past the limit midway is refused by the
        // decoder instead of being allocated.
        m_codec->max_pixels = std::int64_t(MaxVideoSide) * MaxVideoSide;
        if (R >= 0)
            R = avcodec_open2(m_codec, Codec, nullptr);
        if (R < 0)
            return "cannot decode video (codec " + CodecName + ": " + averror(R) + ")";

        // Only a decoded picture proves the file playable (a cut-off file
        // still has a readable header). Its size is the size of the frames.
        if (next() != Result::Picture)
            return "cannot decode video (no " + CodecName + " picture could be decoded)";
        if (const std::string Large = tooLarge(m_picture->width, m_picture->height); !Large.empty())
            return Large;
        m_width = m_picture->width;
        m_height = m_picture->height;
        const AVStream* Stream = m_format->streams[m_stream];
        m_frameRate = videoFrameRate(Stream->avg_frame_rate.num, Stream->avg_frame_rate.den,
                                     Stream->r_frame_rate.num, Stream->r_frame_rate.den);
        // Playing in a loop needs a way back to the first picture.
        if (!rewind())
            return "cannot seek to the start of the video";
        return {};
    }

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    double frameRate() const { return m_frameRate; }

    // Decodes the next picture of the video stream. Damaged packets are
    // skipped; Unreadable means reading the file failed.
    Result next()
    {
        for (;;) {
            int R = avcodec_receive_frame(m_codec, m_picture);
            if (R == 0)
                return Result::Picture;
            if (m_draining)
                return Result::EndOfFile;  // drained, or a last picture failed
            // Any other receive error concerns a damaged picture: read on.

            R = av_read_frame(m_format, m_packet);
            if (R == AVERROR_EOF) {
                // Pictures the decoder still holds come out before the end.
                avcodec_send_packet(m_codec, nullptr);
                m_draining = true;
                continue;
            }
            if (R < 0)
                return Result::Unreadable;
            if (m_packet->stream_index == m_stream)
                avcodec_send_packet(m_codec, m_packet);  // a damaged packet is skipped
            av_packet_unref(m_packet);
        }
    }

    bool rewind()
    {
        const AVStream* Stream = m_format->streams[m_stream];
        const std::int64_t Start = Stream->start_time == AV_NOPTS_VALUE ? 0 : Stream->start_time;
        if (av_seek_frame(m_format, m_stream, Start, AVSEEK_FLAG_BACKWARD) < 0
            && av_seek_frame(m_format, -1, 0, AVSEEK_FLAG_BYTE) < 0)
            return false;
        avcodec_flush_buffers(m_codec);
        m_draining = false;
        return true;
    }

    // Prepares the converter for the current picture: whatever its size and
    // format, it comes out at the probed size, so the capture setting stays
    // true when a stream changes size midway.
    bool prepareScaler()
    {
        const ScalerKey Key{m_picture->width, m_picture->height, m_picture->format, m_picture->colorspace,
                            m_picture->color_range};
        if (m_scaler && Key == m_scalerKey)
            return true;
        sws_freeContext(m_scaler);
        m_scaler = sws_getContext(Key.Width, Key.Height, AVPixelFormat(Key.Format), m_width, m_height, Rgb32,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
        m_scalerKey = Key;
        if (!m_scaler)
            return false;
        // YUV to RGB with the picture's own matrix (BT.709 for HD, BT.601
        // otherwise) and luma range (16..235 or full 0..255); swscale would
        // otherwise assume BT.601 limited range for everything.
        int* InvTable = nullptr;
        int* Table = nullptr;
        int SrcRange = 0, DstRange = 0, Brightness = 0, Contrast = 0, Saturation = 0;
        if (sws_getColorspaceDetails(m_scaler, &InvTable, &SrcRange, &Table, &DstRange, &Brightness, &Contrast,
                                     &Saturation)
            >= 0) {
            const int FullRange = Key.Range == AVCOL_RANGE_JPEG || isFullRangeFormat(Key.Format);
            const int* Coefficients = sws_getCoefficients(
                Key.ColorSpace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(Key.ColorSpace));
            sws_setColorspaceDetails(m_scaler, Coefficients, FullRange, Table, DstRange, Brightness, Contrast,
                                     Saturation);
        }
        return true;
    }

    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        std::uint8_t* const DstPlanes[4] = {Dst, nullptr, nullptr, nullptr};
        const int DstStrides[4] = {int(BytesPerLine), 0, 0, 0};
        sws_scale(m_scaler, m_picture->data, m_picture->linesize, 0, m_picture->height, DstPlanes, DstStrides);
    }

private:
    struct ScalerKey {
        int Width = 0, Height = 0, Format = -1;
        AVColorSpace ColorSpace = AVCOL_SPC_UNSPECIFIED;
        AVColorRange Range = AVCOL_RANGE_UNSPECIFIED;
        friend bool operator==(const ScalerKey&, const ScalerKey&) = default;
    };

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_picture = nullptr;
    SwsContext* m_scaler = nullptr;
    ScalerKey m_scalerKey;
    int m_stream = -1;
    bool m_draining = false;
    int m_width = 0;
    int m_height = 0;
    double m_frameRate = 0.0;
};

std::unique_ptr<VideoFileSource> VideoFileSource::open(const std::string& Path, std::string& Error)
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
    return std::unique_ptr<VideoFileSource>(new VideoFileSource(std::move(Dec)));
}

VideoFileSource::VideoFileSource(std::unique_ptr<Decoder> Dec)
    : m_decoder(std::move(Dec)), m_setting(m_decoder->width(), m_decoder->height(), m_decoder->frameRate())
{
    m_period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_setting.FrameRate));
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
    return !m_wake.wait_until(Lock, Due, [this] { return m_stopRequested; });
}

void VideoFileSource::run(CameraSink& Sink)
{
    Clock::time_point Due = Clock::now();
    int PicturesThisPass = 0;
    for (;;) {
        // Decoding comes before the wait, so its time is part of the frame
        // interval rather than added to it.
        const Decoder::Result Got = m_decoder->next();
        if (Got == Decoder::Result::Unreadable)
            break;
        if (Got == Decoder::Result::EndOfFile) {
            // A pass without a single picture means the file has changed
            // under us (cut short, overwritten): going round again would
            // only spin.
            if (PicturesThisPass == 0 || !m_decoder->rewind())
                break;
            PicturesThisPass = 0;
            continue;
        }
        ++PicturesThisPass;
        if (!m_decoder->prepareScaler())
            continue;
        if (!waitUntil(Due))
            return;  // stop() is joining us and clears m_running
        const auto Stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
        Sink.frameReady(*m_decoder, Stamp.count());
        Due = nextFrameDue(Due, Clock::now(), m_period);
    }
    m_running = false;
}
