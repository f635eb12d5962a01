#include "platform/thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

// One mutex and condition variable per gate: every hand-over made under the
// gate waits on them, so cancel() wakes them all with one notify.
struct SyncGate::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> cancelled{false};
};

namespace {

thread_local TThread t_threadToken;
thread_local std::shared_ptr<SyncGate::State> t_gate;
std::atomic<int> g_waiting{0};

// One queued hand-over. The UI side owns a copy of the method, so a caller
// released by a cancelled gate may return while a method that had already
// started still runs.
struct Call {
    std::shared_ptr<SyncGate::State> gate;
    std::function<void()> method;
    bool done = false;  // guarded by gate->mutex
    std::exception_ptr error;
};

// Calls travel to the UI thread through this queue rather than inside the
// posted event: one event per call, each taking the oldest call. The queue's
// mutex orders the caller's writes before the UI thread's reads in a way
// that race detectors see (Qt's own event queue they do not).
std::mutex g_queueMutex;
std::deque<std::shared_ptr<Call>> g_queue;

void runNextCall()
{
    std::shared_ptr<Call> call;
    {
        std::lock_guard lock(g_queueMutex);
        if (g_queue.empty())
            return;
        call = std::move(g_queue.front());
        g_queue.pop_front();
    }
    {
        // Checked under the gate's mutex: once cancel() has returned, no
        // method of this gate starts.
        std::lock_guard lock(call->gate->mutex);
        if (call->gate->cancelled.load())
            return;
    }
    try {
        call->method();
    } catch (...) {
        call->error = std::current_exception();
    }
    {
        std::lock_guard lock(call->gate->mutex);
        call->done = true;
    }
    call->gate->wake.notify_all();
}

}  // namespace

TThread* TThread::CurrentThread()
{
    return &t_threadToken;
}

bool TThread::isUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

int TThread::waitingCount()
{
    return g_waiting.load();
}

void TThread::Synchronize(TThread* /*Thread*/, const std::function<void()>& Method)
{
    // Without an application there is no UI thread to hand over to: the wait
    // below would never end. Every program and test creates one first.
    if (QCoreApplication::instance() == nullptr)
        qFatal("TThread::Synchronize called without a QCoreApplication");

    const std::shared_ptr<SyncGate::State>& installed = t_gate;
    if (isUiThread()) {
        // The per-frame path of a source delivering on the UI thread: no
        // allocation, no lock.
        if (!installed || !installed->cancelled.load())
            Method();
        return;
    }

    // Without a gate the caller simply waits; a private never-cancelled state
    // gives the wait its mutex and condition variable.
    auto call = std::make_shared<Call>();
    call->gate = installed ? installed : std::make_shared<SyncGate::State>();
    call->method = Method;
    SyncGate::State& gate = *call->gate;
    if (gate.cancelled.load())
        return;

    ++g_waiting;
    {
        std::lock_guard lock(g_queueMutex);
        g_queue.push_back(call);
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { runNextCall(); }, Qt::QueuedConnection);

    std::exception_ptr error;
    {
        std::unique_lock lock(gate.mutex);
        gate.wake.wait(lock, [&] { return call->done || gate.cancelled.load(); });
        if (call->done)
            error = std::move(call->error);  // freed here, not on the UI thread
    }
    --g_waiting;
    if (error)
        std::rethrow_exception(error);
}

SyncGate::SyncGate() : m_state(std::make_shared<State>()) {}

SyncGate::~SyncGate() = default;

void SyncGate::cancel()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->cancelled.store(true);
    }
    m_state->wake.notify_all();
}

bool SyncGate::isCancelled() const
{
    return m_state->cancelled.load();
}

SyncGateScope::SyncGateScope(const SyncGate& Gate) : m_previous(std::move(t_gate))
{
    t_gate = Gate.state();
}

SyncGateScope::~SyncGateScope()
{
    t_gate = std::move(m_previous);
}
