// The host's timer service, lent to the plug-in through HostServices.
//
// Time is counted in the service's own unit, 10 microseconds. In virtual time
// the clock stands still until the emulation advances it, and each expiry is
// fired by whoever advances it, so a test runs as fast as the machine allows
// and always sees the same schedule. In real time the expiries follow the
// performance counter, as the host's do while a user watches: fired either
// by a thread of the timer's own, or by the emulator's main loop, which runs
// the guest and the timer on one thread and asks for each expiry as it
// comes due.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "plugin/HostInterface.h"

class HostTimer {
public:
    enum class Clock { Virtual, RealTime };
    // Real time: who fires the expiries.
    enum class Firing { OwnThread, Caller };

    void start(Clock clock, Firing firing);
    void stop();

    // The TimerService the plug-in calls.
    std::uint8_t serve(std::uint32_t* slot, std::int32_t operation, std::int32_t value, TickCallback callback);

    // Virtual time: fires the next expiry, if one is pending; false otherwise.
    bool fireNext();
    // Virtual time: advances the clock by `units`, firing every expiry on the way.
    std::uint64_t advance(std::uint64_t units);

    // Real time, fired by the caller: waits until the armed expiry is due,
    // for at most a millisecond, and fires it on this thread. True if it fired.
    bool fireWhenDue();

    bool virtualClock() const { return clock_ == Clock::Virtual; }
    std::uint64_t now();

    struct Report {
        bool acquired;
        bool armed;
        std::uint64_t now;
        std::uint64_t expiries;
        std::uint32_t sets, starts, stops, halts;
        std::uint64_t tickMicroseconds;  // real time spent inside the plug-in's tick
        std::uint64_t longestTickMicroseconds;  // the longest single tick since the last forgetLongest
        std::uint64_t ticksOverMillisecond;     // and how many took over a millisecond
        std::uint64_t ticksTimed;
        std::vector<std::int32_t> recentPeriods;  // the last periods set, oldest first
    };
    Report report();
    void forgetPeriods();
    void forgetLongest();

private:
    static DWORD WINAPI realTimeThread(void* self);
    void runTick(TickCallback callback);
    void runRealTime();
    // Takes the expiry if it is due; otherwise how long until it is (10 us units).
    TickCallback takeDue(std::int64_t& remaining);
    std::uint64_t realNow() const;
    std::uint64_t startingPoint() const;

    // Real time: a tick that runs this much late no longer pulls the next
    // expiry forward; the line then simply resumes its pace from now.
    static constexpr std::uint64_t kMaxLag = 5000;  // 50 ms

    Clock clock_ = Clock::Virtual;
    CRITICAL_SECTION lock_;
    TickCallback callback_ = nullptr;
    bool acquired_ = false;
    bool armed_ = false;
    std::int32_t period_ = 0;
    std::uint64_t deadline_ = 0;
    std::uint64_t virtualNow_ = 0;
    std::uint64_t expiries_ = 0;
    std::uint32_t sets_ = 0, starts_ = 0, stops_ = 0, halts_ = 0;
    std::uint64_t tickCounts_ = 0;  // performance-counter counts inside the tick
    std::uint64_t longestTickCounts_ = 0;
    std::uint64_t ticksOverMillisecond_ = 0;
    std::uint64_t ticksTimed_ = 0;
    std::vector<std::int32_t> periods_;

    LARGE_INTEGER frequency_{};
    LARGE_INTEGER origin_{};
    HANDLE thread_ = nullptr;
    volatile DWORD tickingThread_ = 0;  // the thread inside a tick, 0 when none is
    std::uint64_t firedDeadline_ = 0;
    volatile LONG running_ = 0;
};

HostTimer& hostTimer();
