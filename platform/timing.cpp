#include "platform/timing.h"

#include <QTimer>

#include <atomic>
#include <chrono>

namespace {

class SteadyClock final : public Clock {
public:
    std::int64_t nowMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

SteadyClock g_steadyClock;
// Stopwatches are read on the UI thread, but a test may swap the clock while
// a capture thread is still winding down: keep the pointer itself atomic.
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& CurrentClock()
{
    Clock* c = g_clock.load(std::memory_order_acquire);
    return c ? *c : g_steadyClock;
}

void InstallClock(Clock* C)
{
    g_clock.store(C, std::memory_order_release);
}

TStopwatch TStopwatch::StartNew()
{
    TStopwatch s;
    s.Start();
    return s;
}

void TStopwatch::Reset()
{
    m_elapsed = 0;
    m_startedAt = 0;
    m_running = false;
}

void TStopwatch::Start()
{
    if (m_running)
        return;
    m_startedAt = CurrentClock().nowMs();
    m_running = true;
}

void TStopwatch::Stop()
{
    if (!m_running)
        return;
    m_elapsed += CurrentClock().nowMs() - m_startedAt;
    m_running = false;
}

std::int64_t TStopwatch::ElapsedMilliseconds() const
{
    if (!m_running)
        return m_elapsed;
    return m_elapsed + (CurrentClock().nowMs() - m_startedAt);
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), m_timer(std::make_unique<QTimer>())
{
    // Ticks may come late but never early: a precise timer keeps the 20 ms
    // fade steps even.
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] {
        if (OnTimer)
            OnTimer(this);
    });
    apply();
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool E)
{
    if (E == m_enabled)
        return;
    m_enabled = E;
    apply();
}

void TTimer::SetInterval(int Ms)
{
    if (Ms == m_interval)
        return;
    m_interval = Ms;
    apply();
}

// An interval of 0 means "never", as for a disabled timer. Every change
// restarts the count from the moment of the change.
void TTimer::apply()
{
    if (m_enabled && m_interval > 0)
        m_timer->start(m_interval);
    else
        m_timer->stop();
}
