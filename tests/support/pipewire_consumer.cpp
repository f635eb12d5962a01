#include "support/pipewire_consumer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstring>
#include <mutex>
#include <set>

struct PipeWireConsumer::State {
    pw_thread_loop* Loop = nullptr;
    pw_context* Context = nullptr;
    pw_core* Core = nullptr;
    pw_registry* Registry = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook RegistryListener{};
    spa_hook StreamListener{};
    bool Stuck = false;

    // Loop's lock.
    std::set<std::uint32_t> NodeIds;  // nodes named quorl-eye
    bool WasLinked = false;
    bool Ended = false;
    spa_video_info_raw Format{};
    ConsumedFrame Last;
    quint64 Taken = 0;
};

namespace {

void onGlobal(void* Data, std::uint32_t Id, std::uint32_t, const char* Type, std::uint32_t, const spa_dict* Props)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
    const char* name = Props ? spa_dict_lookup(Props, PW_KEY_NODE_NAME) : nullptr;
    if (std::strcmp(Type, PW_TYPE_INTERFACE_Node) == 0 && name && std::strcmp(name, "quorl-eye") == 0)
        s->NodeIds.insert(Id);
    pw_thread_loop_signal(s->Loop, false);
}

void onGlobalRemove(void* Data, std::uint32_t Id)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
    s->NodeIds.erase(Id);
    pw_thread_loop_signal(s->Loop, false);
}

void onStateChanged(void* Data, pw_stream_state, pw_stream_state State, const char*)
{
    auto* s = static_cast<PipeWireConsumer::State*>(Data);
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

const pw_registry_events RegistryEvents = {PW_VERSION_REGISTRY_EVENTS, onGlobal, onGlobalRemove};

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
    pw_init(nullptr, nullptr);
    s.Loop = pw_thread_loop_new("test-consumer", nullptr);
    s.Context = pw_context_new(pw_thread_loop_get_loop(s.Loop), nullptr, 0);
    pw_thread_loop_start(s.Loop);
    pw_thread_loop_lock(s.Loop);
    s.Core = pw_context_connect(s.Context, nullptr, 0);
    if (s.Core) {
        s.Registry = pw_core_get_registry(s.Core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(s.Registry, &s.RegistryListener, &RegistryEvents, &s);
        s.Stream = pw_stream_new(s.Core, "test consumer",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                   PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_TARGET_OBJECT, "quorl-eye",
                                                   PW_KEY_NODE_DONT_RECONNECT, "true", nullptr));
        pw_stream_add_listener(s.Stream, &s.StreamListener, &StreamEvents, &s);
        std::uint8_t bytes[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
        const spa_rectangle minSize = SPA_RECTANGLE(1, 1), maxSize = SPA_RECTANGLE(8192, 8192),
                            defSize = SPA_RECTANGLE(640, 480);
        const spa_fraction minRate = SPA_FRACTION(0, 1), maxRate = SPA_FRACTION(1000, 1),
                           defRate = SPA_FRACTION(30, 1);
        const auto format = Format == "I420" ? SPA_VIDEO_FORMAT_I420 : SPA_VIDEO_FORMAT_BGRx;
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(format),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)))};
        pw_stream_connect(s.Stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    }
    pw_thread_loop_unlock(s.Loop);
}

PipeWireConsumer::~PipeWireConsumer()
{
    State& s = *m_state;
    pw_thread_loop_lock(s.Loop);
    if (s.Stream)
        pw_stream_destroy(s.Stream);
    if (s.Registry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.Registry));
    if (s.Core)
        pw_core_disconnect(s.Core);
    pw_thread_loop_unlock(s.Loop);
    pw_thread_loop_stop(s.Loop);
    pw_context_destroy(s.Context);
    pw_thread_loop_destroy(s.Loop);
}

bool PipeWireConsumer::connected() const
{
    return m_state->Core != nullptr;
}

namespace {

// Runs Between (with the loop unlocked) and checks Done (locked) until Done
// holds or TimeoutMs has passed; waits on the loop's signal in between, a
// few milliseconds at most so that Between runs often.
bool waitOn(PipeWireConsumer::State& S, const std::function<bool()>& Done, const std::function<void()>& Between,
            int TimeoutMs)
{
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
    return waitOn(s, [&] { return s.NodeIds.empty() != Listed; }, {}, TimeoutMs);
}

bool PipeWireConsumer::waitLinked(int TimeoutMs)
{
    State& s = *m_state;
    return waitOn(s, [&] { return s.WasLinked; }, {}, TimeoutMs);
}

bool PipeWireConsumer::waitStreamEnded(int TimeoutMs)
{
    State& s = *m_state;
    return waitOn(s, [&] { return s.Ended; }, {}, TimeoutMs);
}
