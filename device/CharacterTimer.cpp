#include "device/CharacterTimer.h"

namespace {
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
