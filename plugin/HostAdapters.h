// The host's timer service and interrupt controller, lent to the plug-in by
// DeviceEntry, as the timer and interrupt line the device asks for.
#pragma once

#include <cstdint>

#include "device/Host.h"
#include "plugin/HostInterface.h"

// The host's timer service on the host's timer slot. Every expiry calls
// `tick`; until the service is lent, every call does nothing.
class HostTimerService final : public HostTimer {
public:
    // Back to the state of a freshly loaded module: no service, an empty slot.
    void reset(TickCallback tick);
    // The service DeviceEntry was handed.
    void lend(TimerServiceFn service) { service_ = service; }
    // The slot the host keeps its timer in: one word of ours that only the
    // host reads or writes.
    const std::uint32_t* slot() const { return &slot_; }

    bool acquire() override;
    void stop() override;
    void setPeriod(std::int32_t units) override;
    void start() override;
    void halt() override;

private:
    std::uint8_t call(std::int32_t operation, std::int32_t value, TickCallback callback);

    TimerServiceFn service_ = nullptr;
    TickCallback tick_ = nullptr;
    std::uint32_t slot_ = 0;
};

// The host's interrupt request, always on the RS-232C's line.
class HostInterruptLine final : public InterruptLine {
public:
    void lend(RaiseIrqFn raiseIrq) { raiseIrq_ = raiseIrq; }
    void raise() override;

private:
    RaiseIrqFn raiseIrq_ = nullptr;
};
