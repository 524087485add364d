// What the device needs of the emulator that hosts it: the timer that paces
// the line one character at a time, and the interrupt line to the emulated
// CPU. The plug-in module adapts the host's own timer service and interrupt
// controller to these; tests bring fakes.
#pragma once

#include <cstdint>

// The host's timer, bound to the device's tick. Every call is made with the
// device's timer lock held, from the tick itself or from any other thread.
class HostTimer {
public:
    virtual ~HostTimer() = default;
    // Binds a timer whose expiry runs the device's tick; false when the host
    // refuses one.
    virtual bool acquire() = 0;
    // Cancels any pending expiry.
    virtual void stop() = 0;
    // The period of the next start, in units of 10 microseconds.
    virtual void setPeriod(std::int32_t units) = 0;
    // Starts counting the period last set; one expiry follows.
    virtual void start() = 0;
    // No further expiry until the next start.
    virtual void halt() = 0;
};

// The USART's interrupt request line to the emulated machine's controller.
class InterruptLine {
public:
    virtual ~InterruptLine() = default;
    virtual void raise() = 0;
};

// The host's side of the device, handed over once the host has lent it.
// Until then both are null and the device's timer and interrupt calls do
// nothing.
struct HostLinks {
    HostTimer* timer;
    InterruptLine* interrupt;
};
