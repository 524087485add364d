// Stand-ins for the host emulator's timer service and interrupt line, and for
// the user's message boxes and the status panel, as unit tests need them.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/Host.h"
#include "device/Platform.h"
#include "device/Rs232cDevice.h"

// What the device asked of the host's timer.
enum class TimerOp { Acquire, Stop, SetPeriod, Start, Halt };

struct TimerCall {
    TimerOp op;
    std::int32_t period;  // SetPeriod
};

// The host's timer and interrupt line, as the device sees them. The timer
// behaves as a host's does: a start after a period was set gives exactly one
// expiry, which a stop or a halt cancels; fire() runs that expiry.
class FakeHost final : public HostTimer, public InterruptLine {
public:
    // Lends the timer and interrupt line to the device, as DeviceEntry does.
    void attach(Rs232cDevice& device);

    // What acquire() answers.
    void setAcquireResult(bool acquired) { acquireResult_ = acquired; }

    std::vector<TimerCall> timerCalls() const;
    std::vector<TimerOp> timerOps() const;
    std::vector<std::int32_t> periods() const;  // every period set, in order
    void clearTimerCalls();
    bool running() const;             // started and not stopped or halted since
    std::int32_t currentPeriod() const;

    // Fires the pending expiry, as the host does when the period has passed:
    // runs the device's tick. Returns false if none is running.
    bool fire();
    // Fires `count` expiries in a row (each tick re-arms the next).
    int fireTimes(int count);

    int irqCount() const;
    void clearIrqs();

    // --- HostTimer, InterruptLine ---
    bool acquire() override;
    void stop() override;
    void setPeriod(std::int32_t units) override;
    void start() override;
    void halt() override;
    void raise() override;

private:
    mutable std::recursive_mutex mutex_;
    Rs232cDevice* device_ = nullptr;
    std::vector<TimerCall> calls_;
    int irqs_ = 0;
    bool acquireResult_ = true;
    bool periodSet_ = false;
    std::int32_t period_ = 0;
    bool running_ = false;
};

// Records the texts the device would show in message boxes. A test may also
// look on while "the user reads" each one.
class FakeAlert final : public UserAlert {
public:
    void show(const char* text) override;
    std::vector<std::string> shown() const;
    void clear();
    void whileShown(std::function<void()> look) { look_ = std::move(look); }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> shown_;
    std::function<void()> look_;
};

// Records panel field writes in order.
class FakePanel final : public PanelFields {
public:
    void setText(WindowHandle panel, int controlId, const char* text) override;
    std::vector<std::pair<int, std::string>> writes() const;
    std::string latest(int controlId) const;  // "" when never written
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, std::string>> writes_;
};
