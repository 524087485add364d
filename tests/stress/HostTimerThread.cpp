#include "tests/stress/HostTimerThread.h"

#include "device/ReentrantLock.h"

namespace {
std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

HostTimerThread::HostTimerThread(std::chrono::nanoseconds unit, std::function<void()> expiry)
    : unit_(unit), expiry_(std::move(expiry))
{
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
}

void HostTimerThread::checkLockHeld()
{
#if RS232C_LOCK_ORDER_CHECKS
    if (lock_order::heldDepth(LockRank::Timer) == 0) ++faultyCalls_;
#endif
}

void HostTimerThread::setPeriod(std::int32_t units)
{
    checkLockHeld();
    std::lock_guard<std::mutex> guard(mutex_);
    if (units < 1) ++faultyCalls_;
    periodSet_ = true;
    period_ = units;
}

void HostTimerThread::start()
{
    checkLockHeld();
    std::lock_guard<std::mutex> guard(mutex_);
    running_ = periodSet_;
    due_ = std::chrono::steady_clock::now() + unit_ * period_;
    wake_.notify_all();
}

void HostTimerThread::stop()
{
    checkLockHeld();
    std::lock_guard<std::mutex> guard(mutex_);
    running_ = false;
}

void HostTimerThread::halt() { stop(); }

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
            lock.unlock();
            tickBusySince_ = nowNs();
            expiry_();
            tickBusySince_ = 0;
            ++ticks_;
            lock.lock();
        }
    }
}
