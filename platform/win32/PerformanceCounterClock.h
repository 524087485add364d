// Monotonic time from the performance counter.
#pragma once

#include <cstdint>

#include "platform/lines/Clock.h"

class PerformanceCounterClock final : public Clock {
public:
    PerformanceCounterClock();
    std::uint64_t nowMicroseconds() override;

private:
    std::uint64_t ticksPerSecond_;
};
