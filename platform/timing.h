#pragma once

// Timers and stopwatches. Stopwatches read a process-wide clock that tests
// replace with one they drive by hand.

#include <cstdint>
#include <memory>

#include "platform/controls.h"
#include "platform/types.h"

class QTimer;

// Milliseconds since an arbitrary origin, monotonic.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

// The clock stopwatches read; the steady system clock unless a test has
// installed another. Installing nullptr restores the system clock.
Clock& CurrentClock();
void InstallClock(Clock* C);

class TStopwatch {
public:
    static TStopwatch Create() { return TStopwatch(); }  // stopped, 0 ms
    static TStopwatch StartNew();

    void Reset();  // stopped, 0 ms
    void Start();
    void Stop();
    bool IsRunning() const { return m_running; }
    std::int64_t ElapsedMilliseconds() const;

private:
    std::int64_t m_elapsed = 0;  // accumulated while stopped
    std::int64_t m_startedAt = 0;
    bool m_running = false;
};

// Raises OnTimer on the UI thread every Interval ms while Enabled.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool E);
    int Interval() const { return m_interval; }
    void SetInterval(int Ms);

    TNotifyEvent OnTimer;

private:
    void apply();
    std::unique_ptr<QTimer> m_timer;
    bool m_enabled = true;
    int m_interval = 1000;
};
