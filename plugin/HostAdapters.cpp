#include "plugin/HostAdapters.h"

void HostTimerService::reset(TickCallback tick)
{
    service_ = nullptr;
    tick_ = tick;
    slot_ = 0;
}

std::uint8_t HostTimerService::call(std::int32_t operation, std::int32_t value, TickCallback callback)
{
    return service_ ? service_(&slot_, operation, value, callback) : 0;
}

// Only the low byte of the answer counts, and only 1 means the timer is ours.
bool HostTimerService::acquire() { return call(TimerAcquire, 0, tick_) == 1; }
void HostTimerService::stop() { call(TimerStop, 0, nullptr); }
void HostTimerService::setPeriod(std::int32_t units) { call(TimerSet, units, tick_); }
void HostTimerService::start() { call(TimerStart, 0, nullptr); }
void HostTimerService::halt() { call(TimerHalt, 0, nullptr); }

void HostInterruptLine::raise()
{
    if (raiseIrq_) raiseIrq_(kRs232cIrqLine);
}
