#include "platform/win32/PerformanceCounterClock.h"

#include <windows.h>

PerformanceCounterClock::PerformanceCounterClock()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerSecond_ = static_cast<std::uint64_t>(frequency.QuadPart);
}

// Whole seconds and the rest apart, so that the product never overflows
// however long the computer has been running.
std::uint64_t PerformanceCounterClock::nowMicroseconds()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const std::uint64_t ticks = static_cast<std::uint64_t>(counter.QuadPart);
    return ticks / ticksPerSecond_ * 1000000 + ticks % ticksPerSecond_ * 1000000 / ticksPerSecond_;
}
