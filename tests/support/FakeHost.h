// Stand-ins for the host emulator's timer service and interrupt line, and for
// the user's message boxes and the status panel, as unit tests need them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/Platform.h"
#include "device/Rs232cDevice.h"
#include "plugin/HostInterface.h"

struct TimerCall {
    std::int32_t operation;
    std::int32_t value;
    TickCallback callback;
    std::uint32_t* slot;
};

// The host's timer and interrupt controller. The host hands plain function
// pointers over, so one FakeHost at a time is the active one.
class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Hands the timer service and interrupt request to the device, as DeviceEntry does.
    void attach(Rs232cDevice& device);

    // What TimerAcquire answers (low byte 1 = success).
    void setAcquireResult(std::uint8_t result) { acquireResult_ = result; }

    std::vector<TimerCall> timerCalls() const;
    std::vector<std::int32_t> timerOperations() const;  // the operation codes, in order
    std::vector<std::int32_t> periods() const;          // every TimerSet value, in order
    void clearTimerCalls();
    bool running() const;             // started and not stopped or halted since
    std::int32_t currentPeriod() const;

    // Fires the pending expiry, as the host does when the period has passed:
    // calls the callback of the last TimerSet. Returns false if none is running.
    bool fire();
    // Fires `count` expiries in a row (each tick re-arms the next).
    int fireTimes(int count);

    int irqCount() const;
    std::vector<std::int32_t> irqLines() const;
    void clearIrqs();

    static std::uint8_t HOSTCALL timerService(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                              TickCallback callback);
    static void HOSTCALL raiseIrq(std::int32_t line);

private:
    mutable std::recursive_mutex mutex_;
    std::vector<TimerCall> calls_;
    std::vector<std::int32_t> irqs_;
    std::uint8_t acquireResult_ = 1;
    TickCallback pending_ = nullptr;
    std::int32_t period_ = 0;
    bool running_ = false;
};

// Records the texts the device would show in message boxes.
class FakeAlert final : public UserAlert {
public:
    void show(const char* text) override;
    std::vector<std::string> shown() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> shown_;
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
