#include "device/LineSettings.h"

const std::uint32_t StandardRates[11] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 0};

std::uint32_t selectRate(const LineSettings& settings, std::uint32_t computedSpeed)
{
    const bool locked = settings.lock == 1;
    for (int i = 0; StandardRates[i] != 0; ++i) {
        const std::uint32_t rate = StandardRates[i];
        if (locked ? rate == static_cast<std::uint32_t>(settings.baudRate) : rate >= computedSpeed) return rate;
    }
    return StandardRates[kStandardRateCount - 1];
}

bool isStandardRate(std::int64_t rate)
{
    for (int i = 0; i < kStandardRateCount; ++i)
        if (StandardRates[i] == rate) return true;
    return false;
}
