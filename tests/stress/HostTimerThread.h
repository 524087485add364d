// The host's timer service as a host really runs it: a thread of its own
// fires the armed callback once its period has passed. TimerSet, TimerStart,
// TimerStop and TimerHalt only change what is armed and never wait for a tick
// in progress, so the device may call them from inside the tick and from any
// other thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "plugin/HostInterface.h"

class HostTimerThread {
public:
    // One timer unit (10 us on the host) lasts `unit` here, so that a short
    // run sees many ticks.
    explicit HostTimerThread(std::chrono::nanoseconds unit);
    ~HostTimerThread();
    HostTimerThread(const HostTimerThread&) = delete;
    HostTimerThread& operator=(const HostTimerThread&) = delete;

    // The TimerService handed to the device (one HostTimerThread at a time).
    static std::uint8_t HOSTCALL service(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                         TickCallback callback);

    std::uint64_t ticks() const { return ticks_; }
    // Calls made without the device's timer lock, or setting a period below 1.
    int faultyCalls() const { return faultyCalls_; }
    // Since when the current tick has been running (steady clock, ns), 0 when idle.
    std::int64_t tickBusySince() const { return tickBusySince_; }

private:
    void run();
    std::uint8_t call(std::int32_t operation, std::int32_t value, TickCallback callback);

    const std::chrono::nanoseconds unit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    TickCallback callback_ = nullptr;
    std::int32_t period_ = 0;
    bool running_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point due_{};
    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<int> faultyCalls_{0};
    std::atomic<std::int64_t> tickBusySince_{0};
    std::thread thread_;
};
