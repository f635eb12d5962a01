#pragma once

// A clock that stands still until the test moves it. It becomes the clock
// of every stopwatch while it lives and hands back the system clock when it
// goes out of scope.

#include <cstdint>

#include "platform/timing.h"

class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t StartMs = 0) : m_nowMs(StartMs) { InstallClock(this); }
    ~ManualClock() override { InstallClock(nullptr); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    std::int64_t nowMs() const override { return m_nowMs; }
    void advance(std::int64_t Ms) { m_nowMs += Ms; }
    void set(std::int64_t Ms) { m_nowMs = Ms; }

private:
    std::int64_t m_nowMs;
};
