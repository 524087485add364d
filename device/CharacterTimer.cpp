#include "device/CharacterTimer.h"

namespace {
constexpr double kTimerUnitsPerSecond = 100000.0;  // periods are in 10 us units
constexpr double kBitsWithoutFormat = 8.0;
}  // namespace

void CharacterTimer::construct() { *this = CharacterTimer(); }

void CharacterTimer::formatAsked(const LineFormat& format)
{
    askedBits_ = ::bitsPerCharacter(format);
    formatWasAsked_ = true;
}

double CharacterTimer::bitsPerCharacter(Line* line, bool lineHasFormat)
{
    if (!line) return kBitsWithoutFormat;
    if (!lineHasFormat) return formatWasAsked_ ? askedBits_ : kBitsWithoutFormat;
    if (!formatKnown_) {
        // Read once per change, not on every tick: where a line's calls are
        // dear, a tick has little time to spare.
        LineFormat format;
        if (!line->readFormat(format)) return kBitsWithoutFormat;
        knownBits_ = ::bitsPerCharacter(format);
        formatKnown_ = true;
    }
    return knownBits_;
}

std::int32_t CharacterTimer::nextPeriod(std::uint32_t rate, double bits)
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
