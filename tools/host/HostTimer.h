// The host's timer service, lent to the plug-in through HostServices.
//
// Time is counted in the service's own unit, 10 microseconds. In virtual time
// the clock stands still until the emulation advances it, and each expiry is
// fired by whoever advances it, so a test runs as fast as the machine allows
// and always sees the same schedule. In real time a thread of its own fires
// the expiries against the performance counter, as the host does while a user
// watches.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "plugin/HostInterface.h"

class HostTimer {
public:
    enum class Clock { Virtual, RealTime };

    void start(Clock clock);
    void stop();

    // The TimerService the plug-in calls.
    std::uint8_t serve(std::uint32_t* slot, std::int32_t operation, std::int32_t value, TickCallback callback);

    // Virtual time: fires the next expiry, if one is pending; false otherwise.
    bool fireNext();
    // Virtual time: advances the clock by `units`, firing every expiry on the way.
    std::uint64_t advance(std::uint64_t units);

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
    DWORD tickThread_ = 0;
    std::uint64_t firedDeadline_ = 0;
    volatile LONG running_ = 0;
};

HostTimer& hostTimer();
