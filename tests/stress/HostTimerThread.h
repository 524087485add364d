// The host's timer as a host really runs it: a thread of its own runs the
// expiry once the period has passed. Setting a period, starting, stopping and
// halting only change what is armed and never wait for a tick in progress, so
// the device may call them from inside the tick and from any other thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <functional>
#include <thread>

#include "device/Host.h"

class HostTimerThread final : public HostTimer {
public:
    // One timer unit (10 us on the host) lasts `unit` here, so that a short
    // run sees many ticks; each expiry calls `expiry`.
    HostTimerThread(std::chrono::nanoseconds unit, std::function<void()> expiry);
    ~HostTimerThread();
    HostTimerThread(const HostTimerThread&) = delete;
    HostTimerThread& operator=(const HostTimerThread&) = delete;

    bool acquire() override { return true; }
    void stop() override;
    void setPeriod(std::int32_t units) override;
    void start() override;
    void halt() override;

    std::uint64_t ticks() const { return ticks_; }
    // Calls made without the device's timer lock, or setting a period below 1.
    int faultyCalls() const { return faultyCalls_; }
    // Since when the current tick has been running (steady clock, ns), 0 when idle.
    std::int64_t tickBusySince() const { return tickBusySince_; }

private:
    void run();
    void checkLockHeld();

    const std::chrono::nanoseconds unit_;
    const std::function<void()> expiry_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool periodSet_ = false;
    std::int32_t period_ = 0;
    bool running_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point due_{};
    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<int> faultyCalls_{0};
    std::atomic<std::int64_t> tickBusySince_{0};
    std::thread thread_;
};
