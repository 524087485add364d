// Monotonic time for the lines that keep time of their own (how often a
// network line polls its socket; a modem's guard times, rings and dial
// timeouts). Windows reads the performance counter; tests turn a fake by hand.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since some fixed moment; never goes back.
    virtual std::uint64_t nowMicroseconds() = 0;
};
