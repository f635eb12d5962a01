#pragma once

// One connection to the PipeWire daemon, shared by everything that talks to
// it (the camera source, the picture published as a camera): libpipewire set
// up once, a thread loop of our own with its context and core, and the
// daemon's registry of global objects kept up to date on that thread.
//
// Threads: the loop thread raises every event. Any other thread that calls
// libpipewire on this connection holds Lock for the duration; the waits below
// release it while they wait, so the loop thread can answer.

#include <pipewire/pipewire.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class PipeWireConnection {
public:
    // A global object as the registry announced it.
    struct Global {
        std::uint32_t Id = 0;
        std::string Type;  // "PipeWire:Interface:Node", "PipeWire:Interface:Port"...
        std::uint32_t Version = 0;
        std::uint64_t Serial = 0;  // object.serial: grows with every new object, never reused
        std::map<std::string, std::string> Props;
        std::string prop(const std::string& Key) const
        {
            const auto It = Props.find(Key);
            return It == Props.end() ? std::string() : It->second;
        }
    };

    // Called on the loop thread with the lock held. Lost: the daemon went
    // away (or refused us); the connection stays unusable from then on.
    struct Listener {
        std::function<void(const Global&)> Added;
        std::function<void(const Global&)> Removed;
        std::function<void()> Lost;
    };

    // Connects to the daemon the environment names (PIPEWIRE_REMOTE, else
    // pipewire-0 in PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR) and waits, at most
    // TimeoutMs, until the registry has announced every object there is.
    // Nothing, with Error set to a phrase fit for a message, when no daemon
    // answers.
    static std::unique_ptr<PipeWireConnection> connect(std::string& Error, int TimeoutMs = 2000);
    ~PipeWireConnection();
    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;

    class Lock {
    public:
        explicit Lock(PipeWireConnection& C) : m_loop(C.m_loop) { pw_thread_loop_lock(m_loop); }
        ~Lock() { pw_thread_loop_unlock(m_loop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pw_thread_loop* m_loop;
    };

    pw_thread_loop* loop() const { return m_loop; }
    pw_context* context() const { return m_context; }
    pw_core* core() const { return m_core; }
    pw_registry* registry() const { return m_registry; }

    // False once the daemon is gone. Readable without the lock.
    bool connected() const { return m_connected; }

    // With the lock held: the globals alive now, in the order they appeared.
    std::vector<Global> globals() const;
    // With the lock held: waits until the daemon has handled everything sent
    // before (and the registry is current). False on timeout or disconnect.
    bool roundtrip(int TimeoutMs);
    // With the lock held: waits until Done() holds, rechecking on every
    // signal of the loop. False on timeout (Done() still false).
    bool waitUntil(const std::function<bool()>& Done, int TimeoutMs);
    // Wakes every waitUntil() (from the loop thread, or with the lock held).
    void wake() { pw_thread_loop_signal(m_loop, false); }

    // With the lock held. The returned number removes the listener.
    int addListener(Listener L);
    void removeListener(int Handle);

private:
    PipeWireConnection() = default;
    static void onGlobal(void* Data, std::uint32_t Id, std::uint32_t Permissions, const char* Type,
                         std::uint32_t Version, const spa_dict* Props);
    static void onGlobalRemove(void* Data, std::uint32_t Id);
    static void onCoreDone(void* Data, std::uint32_t Id, int Seq);
    static void onCoreError(void* Data, std::uint32_t Id, int Seq, int Res, const char* Message);
    void lose();

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_registry* m_registry = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_registryListener{};
    std::atomic<bool> m_connected{false};
    int m_doneSeq = -1;
    std::map<std::uint32_t, Global> m_globals;
    std::map<int, Listener> m_listeners;
    int m_nextListener = 1;
};
