#include "tools/host/HostTimer.h"

#include "tools/host/SectionGuard.h"

namespace {
constexpr std::size_t kKeptPeriods = 64;
// Under 1.5 ms to go a real-time wait yields rather than sleeps: Sleep's
// granularity would make the line late.
constexpr std::int64_t kSpinUnits = 150;
}  // namespace

HostTimer& hostTimer()
{
    static HostTimer timer;
    return timer;
}

void HostTimer::start(Clock clock, Firing firing)
{
    InitializeCriticalSection(&lock_);
    clock_ = clock;
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&origin_);
    if (clock_ == Clock::RealTime && firing == Firing::OwnThread) {
        running_ = 1;
        thread_ = CreateThread(nullptr, 0, realTimeThread, this, 0, nullptr);
        SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
    }
}

void HostTimer::stop()
{
    if (thread_) {
        InterlockedExchange(&running_, 0);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

std::uint64_t HostTimer::realNow() const
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart - origin_.QuadPart) * 100000u /
           static_cast<std::uint64_t>(frequency_.QuadPart);
}

std::uint64_t HostTimer::now()
{
    if (clock_ == Clock::RealTime) return realNow();
    SectionGuard guard(lock_);
    return virtualNow_;
}

std::uint8_t HostTimer::serve(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                              TickCallback callback)
{
    SectionGuard guard(lock_);
    switch (operation) {
    case TimerAcquire:
        if (!slot || !callback) return 0;
        callback_ = callback;
        acquired_ = true;
        return 1;
    case TimerSet:
        period_ = value;
        if (callback) callback_ = callback;
        ++sets_;
        periods_.push_back(value);
        if (periods_.size() > kKeptPeriods) periods_.erase(periods_.begin());
        return 1;
    case TimerStart:
        ++starts_;
        armed_ = true;
        deadline_ = startingPoint() + static_cast<std::uint64_t>(period_ > 0 ? period_ : 0);
        return 1;
    case TimerStop:
        ++stops_;
        armed_ = false;
        return 1;
    case TimerHalt:
        ++halts_;
        armed_ = false;
        return 1;
    default:
        return 0;
    }
}

bool HostTimer::fireNext()
{
    TickCallback callback;
    {
        SectionGuard guard(lock_);
        if (!armed_ || !callback_) return false;
        armed_ = false;
        if (deadline_ > virtualNow_) virtualNow_ = deadline_;
        ++expiries_;
        callback = callback_;
    }
    // The tick re-arms through serve(); no lock of ours is held meanwhile.
    runTick(callback);
    return true;
}

void HostTimer::runTick(TickCallback callback)
{
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    tickingThread_ = GetCurrentThreadId();
    callback();
    tickingThread_ = 0;
    QueryPerformanceCounter(&after);
    SectionGuard guard(lock_);
    const std::uint64_t counts = static_cast<std::uint64_t>(after.QuadPart - before.QuadPart);
    tickCounts_ += counts;
    if (counts > longestTickCounts_) longestTickCounts_ = counts;
    if (counts * 1000 > static_cast<std::uint64_t>(frequency_.QuadPart)) ++ticksOverMillisecond_;
    ++ticksTimed_;
}

std::uint64_t HostTimer::advance(std::uint64_t units)
{
    std::uint64_t target;
    {
        SectionGuard guard(lock_);
        target = virtualNow_ + units;
    }
    std::uint64_t fired = 0;
    for (;;) {
        {
            SectionGuard guard(lock_);
            if (!armed_ || deadline_ > target) {
                virtualNow_ = target;
                return fired;
            }
        }
        if (!fireNext()) break;
        ++fired;
    }
    SectionGuard guard(lock_);
    virtualNow_ = target;
    return fired;
}

// A re-arm from inside a tick counts from the instant that expiry was due, as
// an emulated clock stands still while a timer callback runs; so the time the
// tick itself takes does not slow the line. Any other start counts from now.
std::uint64_t HostTimer::startingPoint() const
{
    if (clock_ == Clock::Virtual) return virtualNow_;
    std::uint64_t now = realNow();
    if (GetCurrentThreadId() == tickingThread_ && firedDeadline_ + kMaxLag >= now) return firedDeadline_;
    return now;
}

TickCallback HostTimer::takeDue(std::int64_t& remaining)
{
    SectionGuard guard(lock_);
    if (!armed_ || !callback_) {
        remaining = 100;  // nothing armed: look again in a millisecond
        return nullptr;
    }
    remaining = static_cast<std::int64_t>(deadline_) - static_cast<std::int64_t>(realNow());
    if (remaining > 0) return nullptr;
    armed_ = false;
    firedDeadline_ = deadline_;
    ++expiries_;
    return callback_;
}

void HostTimer::runRealTime()
{
    while (running_) {
        std::int64_t remaining;
        if (TickCallback callback = takeDue(remaining)) {
            runTick(callback);
        } else if (remaining > kSpinUnits) {
            Sleep(1);
        } else {
            SwitchToThread();
        }
    }
}

bool HostTimer::fireWhenDue()
{
    const std::uint64_t giveUp = realNow() + 100;
    for (;;) {
        std::int64_t remaining;
        if (TickCallback callback = takeDue(remaining)) {
            runTick(callback);
            return true;
        }
        if (realNow() >= giveUp) return false;
        if (remaining > kSpinUnits) {
            Sleep(1);
            return false;
        }
        SwitchToThread();
    }
}

DWORD WINAPI HostTimer::realTimeThread(void* self)
{
    static_cast<HostTimer*>(self)->runRealTime();
    return 0;
}

HostTimer::Report HostTimer::report()
{
    SectionGuard guard(lock_);
    Report r;
    r.acquired = acquired_;
    r.armed = armed_;
    r.now = clock_ == Clock::RealTime ? realNow() : virtualNow_;
    r.expiries = expiries_;
    r.sets = sets_;
    r.starts = starts_;
    r.stops = stops_;
    r.halts = halts_;
    r.tickMicroseconds = tickCounts_ * 1000000u / static_cast<std::uint64_t>(frequency_.QuadPart);
    r.longestTickMicroseconds = longestTickCounts_ * 1000000u / static_cast<std::uint64_t>(frequency_.QuadPart);
    r.ticksOverMillisecond = ticksOverMillisecond_;
    r.ticksTimed = ticksTimed_;
    r.recentPeriods = periods_;
    return r;
}

void HostTimer::forgetLongest()
{
    SectionGuard guard(lock_);
    longestTickCounts_ = 0;
    ticksOverMillisecond_ = 0;
    ticksTimed_ = 0;
}

void HostTimer::forgetPeriods()
{
    SectionGuard guard(lock_);
    periods_.clear();
}
