#include "tests/stress/HostTimerThread.h"

#include "device/ReentrantLock.h"

namespace {
HostTimerThread* activeTimer = nullptr;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

HostTimerThread::HostTimerThread(std::chrono::nanoseconds unit) : unit_(unit)
{
    activeTimer = this;
    thread_ = std::thread([this] { run(); });
}

HostTimerThread::~HostTimerThread()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    activeTimer = nullptr;
}

std::uint8_t HOSTCALL HostTimerThread::service(std::uint32_t*, std::int32_t operation, std::int32_t value,
                                               TickCallback callback)
{
    return activeTimer ? activeTimer->call(operation, value, callback) : 0;
}

std::uint8_t HostTimerThread::call(std::int32_t operation, std::int32_t value, TickCallback callback)
{
#if RS232C_LOCK_ORDER_CHECKS
    if (lock_order::heldDepth(LockRank::Timer) == 0) ++faultyCalls_;
#endif
    std::lock_guard<std::mutex> guard(mutex_);
    switch (operation) {
    case TimerSet:
        if (value < 1) ++faultyCalls_;
        callback_ = callback;
        period_ = value;
        break;
    case TimerStart:
        running_ = callback_ != nullptr;
        due_ = std::chrono::steady_clock::now() + unit_ * period_;
        wake_.notify_all();
        break;
    case TimerStop:
    case TimerHalt: running_ = false; break;
    default: break;
    }
    return 1;
}

void HostTimerThread::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (!running_) {
            wake_.wait(lock);
        } else if (std::chrono::steady_clock::now() < due_) {
            wake_.wait_until(lock, due_);
        } else {
            running_ = false;  // one expiry per start
            const TickCallback tick = callback_;
            lock.unlock();
            tickBusySince_ = nowNs();
            tick();
            tickBusySince_ = 0;
            ++ticks_;
            lock.lock();
        }
    }
}
