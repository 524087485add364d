// Pacing: one character time per tick of the host timer, at the actual line
// rate and the line's character format. Each period is a whole number of
// timer units; the fraction it loses is carried into the next, so the long-run
// pace is exact at every rate.
#pragma once

#include <cstdint>

#include "device/Line.h"

class CharacterTimer {
public:
    void construct();

    // The line's format changed, or another line was bound: read it afresh.
    void forgetFormat() { formatKnown_ = false; }
    // The format the device last asked of a line; it paces a line that cannot
    // report its own.
    void formatAsked(const LineFormat& format);

    // Bits per character on `line` (null: none bound): the format it runs
    // with, read once after each change; 8.0 while there is no line or its
    // format cannot be read. A line without the format feature is paced by
    // the format last asked for.
    double bitsPerCharacter(Line* line, bool lineHasFormat);

    // The next period, in timer units (10 us), for a character of `bits` bits
    // at `rate`; never below 1.
    std::int32_t nextPeriod(std::uint32_t rate, double bits);

private:
    static constexpr double kTimerUnitsPerSecond = 100000.0;  // periods are in 10 us units
    // The actual rate the last period was computed for.
    std::uint32_t lastRate_ = 0;
    // The fraction of a timer unit carried into the next period.
    double rateResidual_ = 0.0;
    bool formatKnown_ = false;
    double knownBits_ = 8.0;
    bool formatWasAsked_ = false;
    double askedBits_ = 8.0;
};

// Computed on every tick: kept inline.
inline std::int32_t CharacterTimer::nextPeriod(std::uint32_t rate, double bits)
{
    if (rate != lastRate_) {
        lastRate_ = rate;
        rateResidual_ = 0.0;
    }
    const double t = bits * kTimerUnitsPerSecond / rate + rateResidual_;
    std::int32_t period = static_cast<std::int32_t>(t);
    rateResidual_ = t - period;
    // A zero period would make the host's timer fire without pause; only a
    // line reporting a nonsensical format could ask for one.
    return period < 1 ? 1 : period;
}
