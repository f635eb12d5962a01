#include "support/pipewire_consumer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "platform/pipewire/pipewire_connection.h"

struct PipeWireConsumer::State {
    std::unique_ptr<PipeWireConnection> C;
    pw_thread_loop* Loop = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook StreamListener{};
    bool Stuck = false;

    // Loop's lock.
    bool WasLinked = false;
    bool Streaming = false;
    bool Ended = false;
    spa_video_info_raw Format{};
    ConsumedFrame Last;
    quint64 Taken = 0;
};

namespace {

void onStateChanged(void* Data, pw_stream_state, pw_stream_state State, const char*)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
    s->Streaming = State == PW_STREAM_STATE_STREAMING;
    if (State == PW_STREAM_STATE_PAUSED || State == PW_STREAM_STATE_STREAMING)
        s->WasLinked = true;
    else if (s->WasLinked && (State == PW_STREAM_STATE_UNCONNECTED || State == PW_STREAM_STATE_ERROR))
        s->Ended = true;
    pw_thread_loop_signal(s->Loop, false);
}

void onParamChanged(void* Data, std::uint32_t Id, const spa_pod* Param)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
    if (Id == SPA_PARAM_Format && Param)
        spa_format_video_raw_parse(Param, &s->Format);
}

void onProcess(void* Data)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
    if (s->Stuck)
        return;
    // The newest of what has arrived; older ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->Stream)) {
        if (newest)
            pw_stream_queue_buffer(s->Stream, newest);
        newest = b;
    }
    if (!newest)
        return;
    const spa_data& d = newest->buffer->datas[0];
    if (d.data && d.chunk->size > 0) {
        ConsumedFrame f;
        f.I420 = s->Format.format == SPA_VIDEO_FORMAT_I420;
        f.Width = int(s->Format.size.width);
        f.Height = int(s->Format.size.height);
        f.Stride = d.chunk->stride;
        f.Bytes = QByteArray(static_cast<const char*>(d.data) + d.chunk->offset, int(d.chunk->size));
        f.Number = ++s->Taken;
        s->Last = f;
    }
    pw_stream_queue_buffer(s->Stream, newest);
    pw_thread_loop_signal(s->Loop, false);
}

pw_stream_events streamEvents()
{
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onStateChanged;
    e.param_changed = onParamChanged;
    e.process = onProcess;
    return e;
}
const pw_stream_events StreamEvents = streamEvents();

}  // namespace

PipeWireConsumer::PipeWireConsumer(const QString& Format, bool Stuck) : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.Stuck = Stuck;
    std::string error;
    s.C = PipeWireConnection::connect(error);
    if (!s.C)
        return;
    s.Loop = s.C->loop();
    PipeWireConnection::Lock lock(*s.C);
    s.Stream = pw_stream_new(s.C->core(), "test consumer",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                               PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_TARGET_OBJECT, "quorl-eye",
                                               PW_KEY_NODE_DONT_RECONNECT, "true", nullptr));
    pw_stream_add_listener(s.Stream, &s.StreamListener, &StreamEvents, &s);
    std::uint8_t bytes[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1), maxSize = SPA_RECTANGLE(8192, 8192),
                        defSize = SPA_RECTANGLE(640, 480);
    const spa_fraction minRate = SPA_FRACTION(0, 1), maxRate = SPA_FRACTION(1000, 1), defRate = SPA_FRACTION(30, 1);
    const auto format = Format == "I420" ? SPA_VIDEO_FORMAT_I420 : SPA_VIDEO_FORMAT_BGRx;
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(format),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)))};
    pw_stream_connect(s.Stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
}

PipeWireConsumer::~PipeWireConsumer()
{
    State& s = *m_state;
    if (!s.C)
        return;
    {
        PipeWireConnection::Lock lock(*s.C);
        pw_stream_destroy(s.Stream);
    }
    s.C.reset();
}

namespace {

// Runs Between (with the loop unlocked) and checks Done (locked) until Done
// holds or TimeoutMs has passed; waits on the loop's signal in between, a
// few milliseconds at most so that Between runs often.
bool waitOn(PipeWireConsumer::State& S, const std::function<bool()>& Done, const std::function<void()>& Between,
            int TimeoutMs)
{
    if (!S.C)  // no daemon
        return false;
    QDeadlineTimer deadline(TimeoutMs);
    for (;;) {
        if (Between)
            Between();
        QCoreApplication::processEvents();
        pw_thread_loop_lock(S.Loop);
        bool done = Done();
        if (!done && !deadline.hasExpired()) {
            timespec abstime{};
            pw_thread_loop_get_time(S.Loop, &abstime, 5 * SPA_NSEC_PER_MSEC);
            pw_thread_loop_timed_wait_full(S.Loop, &abstime);
            done = Done();
        }
        pw_thread_loop_unlock(S.Loop);
        if (done)
            return true;
        if (deadline.hasExpired())
            return false;
    }
}

}  // namespace

ConsumedFrame PipeWireConsumer::waitFrame(const std::function<bool(const ConsumedFrame&)>& Wanted,
                                          const std::function<void()>& Between, int TimeoutMs)
{
    State& s = *m_state;
    ConsumedFrame found;
    waitOn(
        s,
        [&] {
            if (s.Last.Number == 0 || !Wanted(s.Last))
                return false;
            found = s.Last;
            return true;
        },
        Between, TimeoutMs);
    return found;
}

bool PipeWireConsumer::waitNodeListed(bool Listed, int TimeoutMs)
{
    State& s = *m_state;
    auto listed = [&] {
        for (const PipeWireConnection::Global& G : s.C->globals())
            if (G.Type == PW_TYPE_INTERFACE_Node && G.prop(PW_KEY_NODE_NAME) == "quorl-eye")
                return true;
        return false;
    };
    return waitOn(s, [&] { return listed() == Listed; }, {}, TimeoutMs);
}

bool PipeWireConsumer::waitLinked(int TimeoutMs)
{
    State& s = *m_state;
    return waitOn(s, [&] { return s.WasLinked; }, {}, TimeoutMs);
}

bool PipeWireConsumer::waitStreamEnded(int TimeoutMs)
{
    State& s = *m_state;
    // When its peer goes, PipeWire 0.3 drops the stream to unconnected;
    // 1.x leaves it paused. Either way no more frames come.
    return waitOn(s, [&] { return s.Ended || (s.WasLinked && !s.Streaming); }, {}, TimeoutMs);
}
