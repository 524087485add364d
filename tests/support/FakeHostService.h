// The host's own timer service and interrupt request, as plain functions in
// the host's calling convention: what the plug-in module is handed by
// DeviceEntry. Records every call; one instance at a time is the active one.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/HostInterface.h"

struct HostTimerCall {
    std::int32_t operation;
    std::int32_t value;
    TickCallback callback;
    std::uint32_t* slot;
};

class FakeHostService {
public:
    FakeHostService() { active() = this; }
    ~FakeHostService()
    {
        if (active() == this) active() = nullptr;
    }
    FakeHostService(const FakeHostService&) = delete;
    FakeHostService& operator=(const FakeHostService&) = delete;

    // What TimerAcquire answers (only 1 in the low byte is success).
    void setAcquireResult(std::uint8_t result) { acquireResult_ = result; }

    const std::vector<HostTimerCall>& calls() const { return calls_; }
    std::vector<std::int32_t> operations() const
    {
        std::vector<std::int32_t> codes;
        for (const HostTimerCall& call : calls_) codes.push_back(call.operation);
        return codes;
    }
    // A period was set since the last stop or halt, and started after it.
    bool armed() const
    {
        bool set = false, running = false;
        for (const HostTimerCall& call : calls_) {
            if (call.operation == TimerSet) set = true;
            if (call.operation == TimerStart) running = set;
            if (call.operation == TimerStop || call.operation == TimerHalt) running = false;
        }
        return running;
    }
    const std::vector<std::int32_t>& irqLines() const { return irqLines_; }
    void clear()
    {
        calls_.clear();
        irqLines_.clear();
    }

    static std::uint8_t HOSTCALL timerService(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                              TickCallback callback)
    {
        FakeHostService* host = active();
        if (!host) return 0;
        host->calls_.push_back(HostTimerCall{operation, value, callback, slot});
        return operation == TimerAcquire ? host->acquireResult_ : 1;
    }
    static void HOSTCALL raiseIrq(std::int32_t line)
    {
        if (FakeHostService* host = active()) host->irqLines_.push_back(line);
    }

private:
    static FakeHostService*& active()
    {
        static FakeHostService* current = nullptr;
        return current;
    }

    std::vector<HostTimerCall> calls_;
    std::vector<std::int32_t> irqLines_;
    std::uint8_t acquireResult_ = 1;
};
