#pragma once

// Running work on the UI thread from another thread.
//
// TThread::Synchronize queues a method to the UI thread and blocks the
// calling thread until it has run; on the UI thread it runs the method at
// once. A capture thread delivers its frames inside a SyncGateScope: then the
// wait is also released when the gate is cancelled (the camera begins to
// stop), and a method still queued at that moment never runs. So stopping a
// camera never waits for a thread that waits for the UI.

#include <functional>
#include <memory>

class TThread {
public:
    // A token for the calling thread (the argument of Synchronize).
    static TThread* CurrentThread();
    static bool isUiThread();
    // Returns after Method ran on the UI thread, or after the calling
    // thread's gate was cancelled (then Method does not run).
    // A method that already started when the gate is cancelled finishes on
    // the UI thread, but the caller no longer waits for it. An exception
    // thrown by Method is raised again in the calling thread.
    static void Synchronize(TThread* Thread, const std::function<void()>& Method);
    // Threads blocked in Synchronize right now (to check that none is left).
    static int waitingCount();
};

// Cancellation of the hand-overs of one capture run.
class SyncGate {
public:
    SyncGate();
    ~SyncGate();
    // Releases every thread waiting in Synchronize under this gate and makes
    // later Synchronize calls under it return at once; their methods never
    // run. May be called from any thread; idempotent.
    void cancel();
    bool isCancelled() const;

    struct State;
    std::shared_ptr<State> state() const { return m_state; }

private:
    std::shared_ptr<State> m_state;
};

// Installs Gate for the calling thread's Synchronize calls while in scope.
class SyncGateScope {
public:
    explicit SyncGateScope(const SyncGate& Gate);
    ~SyncGateScope();
    SyncGateScope(const SyncGateScope&) = delete;
    SyncGateScope& operator=(const SyncGateScope&) = delete;

private:
    std::shared_ptr<SyncGate::State> m_previous;
};
