#include "platform/pipewire/camera_publisher.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/bitmap.h"
#include "platform/i420_conversion.h"
#include "platform/pipewire/pipewire_connection.h"

namespace {

// Offered until the first picture tells the real size.
constexpr int InitialWidth = 640;
constexpr int InitialHeight = 480;
constexpr int InitialRate = 30;

const spa_pod* enumFormat(spa_pod_builder& B, int Width, int Height, int Rate)
{
    const spa_rectangle size = SPA_RECTANGLE(std::uint32_t(Width), std::uint32_t(Height));
    const spa_fraction rate = SPA_FRACTION(std::uint32_t(Rate), 1);
    // A choice lists its default first, then every value again.
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &B, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_I420),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
}

std::uint64_t monotonicNs()
{
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace

std::shared_ptr<PipeWireCameraPublisher> PipeWireCameraPublisher::create(std::string& Error)
{
    std::shared_ptr<PipeWireCameraPublisher> publisher(new PipeWireCameraPublisher);
    if (!publisher->start(Error))
        return nullptr;
    return publisher;
}

bool PipeWireCameraPublisher::start(std::string& Error)
{
    m_connection = PipeWireConnection::connect(Error);
    if (!m_connection)
        return false;
    m_loop = m_connection->loop();
    PipeWireConnection::Lock lock(*m_connection);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_MEDIA_CLASS, "Video/Source",
                                             PW_KEY_NODE_NAME, "quorl-eye", PW_KEY_NODE_DESCRIPTION,
                                             "Quorl Eye Vision", PW_KEY_APP_NAME, "Quorl Eye Vision", nullptr);
    m_stream = pw_stream_new(m_connection->core(), "Quorl Eye Vision", props);
    if (!m_stream) {
        Error = std::string("the daemon refused the camera node (") + std::strerror(errno) + ")";
        return false;
    }
    m_events = std::make_unique<pw_stream_events>();
    m_events->version = PW_VERSION_STREAM_EVENTS;
    m_events->state_changed = [](void* Data, pw_stream_state Old, pw_stream_state State, const char* Why) {
        onStateChanged(Data, Old, State, Why);
    };
    m_events->param_changed = onParamChanged;
    m_events->remove_buffer = onRemoveBuffer;
    m_streamListener = std::make_unique<spa_hook>();
    pw_stream_add_listener(m_stream, m_streamListener.get(), m_events.get(), this);

    m_offered = {InitialWidth, InitialHeight, InitialRate};
    std::uint8_t podBytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBytes, sizeof podBytes);
    const spa_pod* params[1] = {enumFormat(builder, InitialWidth, InitialHeight, InitialRate)};
    const int res = pw_stream_connect(
        m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS), params, 1);
    // The node is listed once the stream is paused; an error ends the wait too.
    if (res < 0) {
        Error = std::string("the camera node could not be made (") + std::strerror(-res) + ")";
        return false;
    }
    if (!m_connection->waitUntil([this] { return m_ready || m_failed; }, 5000) || !m_ready) {
        Error = m_failed ? "the daemon refused the camera node: " + m_why : "the daemon did not add the camera node";
        return false;
    }
    return true;
}

PipeWireCameraPublisher::~PipeWireCameraPublisher()
{
    if (!m_connection)
        return;
    // Destroying the stream removes the node: consumers see their stream
    // end. The connection goes after it.
    {
        PipeWireConnection::Lock lock(*m_connection);
        if (m_stream)
            pw_stream_destroy(m_stream);
    }
    m_connection.reset();
}

void PipeWireCameraPublisher::offer(const Offer& O)
{
    m_offered = O;
    std::uint8_t podBytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBytes, sizeof podBytes);
    const spa_pod* params[1] = {enumFormat(builder, O.Width, O.Height, O.Rate)};
    pw_stream_update_params(m_stream, params, 1);
}

void PipeWireCameraPublisher::onStateChanged(void* Data, int, int State, const char* Why)
{
    auto* self = static_cast<PipeWireCameraPublisher*>(Data);
    self->m_streaming = State == PW_STREAM_STATE_STREAMING;
    if (State == PW_STREAM_STATE_PAUSED || State == PW_STREAM_STATE_STREAMING)
        self->m_ready = true;
    if (State == PW_STREAM_STATE_ERROR) {
        self->m_failed = true;
        self->m_why = Why ? Why : "unknown error";
    }
    pw_thread_loop_signal(self->m_loop, false);
}

void PipeWireCameraPublisher::onParamChanged(void* Data, std::uint32_t Id, const spa_pod* Param)
{
    auto* self = static_cast<PipeWireCameraPublisher*>(Data);
    if (Id != SPA_PARAM_Format)
        return;
    // A buffer filled for the old format is not sent.
    ++self->m_generation;
    Format format;
    spa_video_info_raw info{};
    if (Param && spa_format_video_raw_parse(Param, &info) >= 0 && info.size.width > 0 && info.size.height > 0 &&
        (info.format == SPA_VIDEO_FORMAT_BGRx || info.format == SPA_VIDEO_FORMAT_I420)) {
        format.Width = int(info.size.width);
        format.Height = int(info.size.height);
        format.I420 = info.format == SPA_VIDEO_FORMAT_I420;
        if (format.I420) {
            const I420Layout layout = i420Layout(format.Width, format.Height);
            format.BytesPerLine = layout.YBytesPerLine;
            format.Size = layout.Size;
        } else {
            format.BytesPerLine = format.Width * 4;
            format.Size = std::size_t(format.BytesPerLine) * std::size_t(format.Height);
        }
    }
    self->m_format = format;
    if (format.Width == 0)
        return;

    std::uint8_t podBytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBytes, sizeof podBytes);
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(int(format.Size)), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(format.BytesPerLine),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_header)))));
    pw_stream_update_params(self->m_stream, params, 2);
}

void PipeWireCameraPublisher::onRemoveBuffer(void* Data, pw_buffer*)
{
    // The buffer's memory goes once this returns: wait for a fill in
    // progress to end, and let publish() know that its buffer is gone.
    auto* self = static_cast<PipeWireCameraPublisher*>(Data);
    std::unique_lock lock(self->m_fillMutex);
    self->m_fillDone.wait(lock, [self] { return !self->m_filling; });
    ++self->m_generation;
}

bool PipeWireCameraPublisher::publish(const TBitmap& Picture, double FrameRate)
{
    const Offer wanted{Picture.Width(), Picture.Height(), FrameRate >= 1.0 ? int(std::lround(FrameRate)) : 0};
    if (wanted.Width <= 0 || wanted.Height <= 0)
        return false;

    pw_buffer* buffer = nullptr;
    Format format;
    std::uint64_t generation = 0;
    pw_thread_loop_lock(m_loop);
    if (!(wanted == m_offered))
        offer(wanted);
    format = m_format;
    generation = m_generation;
    if (m_streaming && format.Width == wanted.Width && format.Height == wanted.Height)
        buffer = pw_stream_dequeue_buffer(m_stream);
    if (buffer) {
        std::lock_guard lock(m_fillMutex);
        m_filling = true;
    }
    pw_thread_loop_unlock(m_loop);
    if (!buffer)
        return false;

    spa_data& data = buffer->buffer->datas[0];
    const bool fits = data.data && data.maxsize >= format.Size;
    if (fits) {
        auto* out = static_cast<std::uint8_t*>(data.data);
        const auto* in = reinterpret_cast<const std::uint8_t*>(Picture.constScanLine(0));
        const std::ptrdiff_t inBytesPerLine = Picture.image().bytesPerLine();
        if (format.I420) {
            const I420Layout layout = i420Layout(format.Width, format.Height);
            rgb32ToI420(in, inBytesPerLine,
                        {out, layout.YBytesPerLine, out + layout.UOffset, out + layout.VOffset,
                         layout.ChromaBytesPerLine},
                        format.Width, format.Height);
        } else if (inBytesPerLine == format.BytesPerLine) {
            std::memcpy(out, in, format.Size);
        } else {
            for (int y = 0; y < format.Height; ++y)
                std::memcpy(out + std::ptrdiff_t(y) * format.BytesPerLine, in + y * inBytesPerLine,
                            std::size_t(format.BytesPerLine));
        }
    }
    {
        std::lock_guard lock(m_fillMutex);
        m_filling = false;
    }
    m_fillDone.notify_all();

    bool published = false;
    pw_thread_loop_lock(m_loop);
    if (generation == m_generation) {
        // A buffer too small for the agreed format (a consumer's fault) goes
        // back empty.
        data.chunk->offset = 0;
        data.chunk->size = fits ? std::uint32_t(format.Size) : 0;
        data.chunk->stride = format.BytesPerLine;
        data.chunk->flags = fits ? SPA_CHUNK_FLAG_NONE : SPA_CHUNK_FLAG_CORRUPTED;
        if (auto* header = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(buffer->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
            header->flags = 0;
            header->offset = 0;
            header->pts = std::int64_t(monotonicNs());
            header->dts_offset = 0;
            header->seq = m_sequence++;
        }
        pw_stream_queue_buffer(m_stream, buffer);
        if (fits) {
            pw_stream_trigger_process(m_stream);
            published = true;
        }
    }
    pw_thread_loop_unlock(m_loop);
    return published;
}
