#include "platform/pipewire/pipewire_connection.h"

#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

const pw_core_events kCoreEvents = [] {
    pw_core_events E{};
    E.version = PW_VERSION_CORE_EVENTS;
    return E;
}();

}  // namespace

std::unique_ptr<PipeWireConnection> PipeWireConnection::connect(std::string& Error, int TimeoutMs)
{
    static std::once_flag Once;
    std::call_once(Once, [] { pw_init(nullptr, nullptr); });

    std::unique_ptr<PipeWireConnection> C(new PipeWireConnection);
    C->m_loop = pw_thread_loop_new("quorl-pipewire", nullptr);
    if (!C->m_loop) {
        Error = "cannot create a PipeWire loop";
        return nullptr;
    }
    C->m_context = pw_context_new(pw_thread_loop_get_loop(C->m_loop), nullptr, 0);
    if (!C->m_context) {
        Error = std::string("cannot set up PipeWire: ") + std::strerror(errno);
        return nullptr;
    }
    if (pw_thread_loop_start(C->m_loop) < 0) {
        Error = "cannot start the PipeWire loop";
        return nullptr;
    }

    Lock L(*C);
    C->m_core = pw_context_connect(C->m_context, nullptr, 0);
    if (!C->m_core) {
        Error = "no PipeWire daemon answers";
        return nullptr;
    }
    C->m_connected = true;
    static const pw_core_events CoreEvents = [] {
        pw_core_events E = kCoreEvents;
        E.done = &PipeWireConnection::onCoreDone;
        E.error = &PipeWireConnection::onCoreError;
        return E;
    }();
    pw_core_add_listener(C->m_core, &C->m_coreListener, &CoreEvents, C.get());
    C->m_registry = pw_core_get_registry(C->m_core, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events RegistryEvents = [] {
        pw_registry_events E{};
        E.version = PW_VERSION_REGISTRY_EVENTS;
        E.global = &PipeWireConnection::onGlobal;
        E.global_remove = &PipeWireConnection::onGlobalRemove;
        return E;
    }();
    pw_registry_add_listener(C->m_registry, &C->m_registryListener, &RegistryEvents, C.get());
    if (!C->roundtrip(TimeoutMs)) {
        Error = C->m_connected ? "the PipeWire daemon does not answer" : "no PipeWire daemon answers";
        return nullptr;
    }
    return C;
}

PipeWireConnection::~PipeWireConnection()
{
    if (!m_loop)
        return;
    // Stopping the loop first: no event runs while the objects go.
    pw_thread_loop_stop(m_loop);
    if (m_registry) {
        spa_hook_remove(&m_registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
    }
    if (m_core) {
        spa_hook_remove(&m_coreListener);
        pw_core_disconnect(m_core);
    }
    if (m_context)
        pw_context_destroy(m_context);
    pw_thread_loop_destroy(m_loop);
}

void PipeWireConnection::onGlobal(void* Data, std::uint32_t Id, std::uint32_t, const char* Type,
                                  std::uint32_t Version, const spa_dict* Props)
{
    auto* C = static_cast<PipeWireConnection*>(Data);
    Global G;
    G.Id = Id;
    G.Type = Type ? Type : "";
    G.Version = Version;
    if (Props) {
        const spa_dict_item* Item;
        spa_dict_for_each(Item, Props) G.Props[Item->key] = Item->value ? Item->value : "";
    }
    const std::string Serial = G.prop(PW_KEY_OBJECT_SERIAL);
    G.Serial = Serial.empty() ? Id : std::strtoull(Serial.c_str(), nullptr, 10);
    const Global& Stored = C->m_globals[Id] = std::move(G);
    for (const auto& [Handle, L] : std::map<int, Listener>(C->m_listeners))
        if (L.Added)
            L.Added(Stored);
    C->wake();
}

void PipeWireConnection::onGlobalRemove(void* Data, std::uint32_t Id)
{
    auto* C = static_cast<PipeWireConnection*>(Data);
    const auto It = C->m_globals.find(Id);
    if (It == C->m_globals.end())
        return;
    const Global Gone = std::move(It->second);
    C->m_globals.erase(It);
    for (const auto& [Handle, L] : std::map<int, Listener>(C->m_listeners))
        if (L.Removed)
            L.Removed(Gone);
    C->wake();
}

void PipeWireConnection::onCoreDone(void* Data, std::uint32_t Id, int Seq)
{
    auto* C = static_cast<PipeWireConnection*>(Data);
    if (Id == PW_ID_CORE) {
        C->m_doneSeq = std::max(C->m_doneSeq, Seq);
        C->wake();
    }
}

void PipeWireConnection::onCoreError(void* Data, std::uint32_t Id, int, int Res, const char*)
{
    // An error on the core itself with a broken pipe: the daemon is gone.
    // Errors about single objects are for whoever owns them.
    auto* C = static_cast<PipeWireConnection*>(Data);
    if (Id == PW_ID_CORE && (Res == -EPIPE || Res == -ECONNRESET || Res == -ENOTCONN))
        C->lose();
}

void PipeWireConnection::lose()
{
    if (!m_connected.exchange(false))
        return;
    for (const auto& [Handle, L] : std::map<int, Listener>(m_listeners))
        if (L.Lost)
            L.Lost();
    wake();
}

std::vector<PipeWireConnection::Global> PipeWireConnection::globals() const
{
    std::vector<Global> All;
    for (const auto& [Id, G] : m_globals)
        All.push_back(G);
    std::sort(All.begin(), All.end(), [](const Global& A, const Global& B) { return A.Serial < B.Serial; });
    return All;
}

bool PipeWireConnection::roundtrip(int TimeoutMs)
{
    if (!m_connected)
        return false;
    const int Seq = pw_core_sync(m_core, PW_ID_CORE, 0);
    if (Seq < 0)
        return false;
    return waitUntil([&] { return !m_connected || m_doneSeq >= Seq; }, TimeoutMs) && m_connected;
}

bool PipeWireConnection::waitUntil(const std::function<bool()>& Done, int TimeoutMs)
{
    timespec Deadline{};
    pw_thread_loop_get_time(m_loop, &Deadline, std::int64_t(TimeoutMs) * SPA_NSEC_PER_MSEC);
    while (!Done())
        if (pw_thread_loop_timed_wait_full(m_loop, &Deadline) != 0)
            return Done();
    return true;
}

int PipeWireConnection::addListener(Listener L)
{
    const int Handle = m_nextListener++;
    m_listeners[Handle] = std::move(L);
    return Handle;
}

void PipeWireConnection::removeListener(int Handle)
{
    m_listeners.erase(Handle);
}
