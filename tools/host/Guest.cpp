#include "tools/host/Guest.h"

#include <windows.h>

#include "tools/host/Console.h"
#include "tools/host/HostMachine.h"
#include "tools/host/HostTimer.h"

namespace {
constexpr std::uint16_t kDataPort = 0x30;
constexpr std::uint16_t kStatusPort = 0x32;
constexpr std::uint8_t kTxReady = 0x01;
constexpr std::uint8_t kRxReady = 0x02;
constexpr std::uint8_t kTxEmpty = 0x04;

// Only the command thread plays the guest, so plain counters do.
std::uint64_t accessCounts = 0;  // performance-counter counts inside the handlers
std::uint64_t accesses = 0;
std::uint64_t longestAccessCounts = 0;
std::uint64_t accessesOverMillisecond = 0;
std::uint64_t accessesTimed = 0;

class Timed {
public:
    Timed() { QueryPerformanceCounter(&start_); }
    ~Timed()
    {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        const std::uint64_t counts = static_cast<std::uint64_t>(end.QuadPart - start_.QuadPart);
        accessCounts += counts;
        if (counts > longestAccessCounts) longestAccessCounts = counts;
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        if (counts * 1000 > static_cast<std::uint64_t>(frequency.QuadPart)) ++accessesOverMillisecond;
        ++accessesTimed;
        ++accesses;
    }

private:
    LARGE_INTEGER start_;
};
}  // namespace

std::uint8_t guestIn(std::uint16_t port)
{
    std::uint8_t value = 0xFF;  // an unclaimed port reads as a floating bus
    Timed timed;
    hostMachine().readPort(port, value);
    return value;
}

void guestOut(std::uint16_t port, std::uint8_t value)
{
    Timed timed;
    hostMachine().writePort(port, value);
}

std::uint64_t guestMicroseconds()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return accessCounts * 1000000u / static_cast<std::uint64_t>(frequency.QuadPart);
}

std::uint64_t guestAccesses() { return accesses; }

LongestAccess guestLongestAccess(bool forget)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LongestAccess longest{longestAccessCounts * 1000000u / static_cast<std::uint64_t>(frequency.QuadPart),
                                accessesOverMillisecond, accessesTimed};
    if (forget) longestAccessCounts = accessesOverMillisecond = accessesTimed = 0;
    return longest;
}

Transfer transfer(const std::vector<std::uint8_t>& out, std::size_t want, const TransferLimits& limits)
{
    HostTimer& timer = hostTimer();
    Transfer result;
    std::uint64_t startUnits = timer.now();
    std::uint64_t startExpiries = timer.report().expiries;
    DWORD started = GetTickCount();
    DWORD lastMove = started;

    for (;;) {
        std::uint8_t status = guestIn(kStatusPort);
        bool moved = false;
        if (result.sent < out.size() && (status & kTxReady)) {
            guestOut(kDataPort, out[result.sent++]);
            moved = true;
        }
        if (result.received.size() < want && (status & kRxReady)) {
            result.received.push_back(guestIn(kDataPort));
            moved = true;
        }
        bool drained = result.sent == out.size() && (status & (kTxReady | kTxEmpty)) == (kTxReady | kTxEmpty);
        if (!moved && drained && result.received.size() >= want) break;

        DWORD now = GetTickCount();
        if (moved) {
            lastMove = now;
            continue;
        }
        if (now - lastMove > limits.idleMilliseconds) {
            result.end = "idle";
            break;
        }
        if (limits.totalMilliseconds && now - started > limits.totalMilliseconds) {
            result.end = "limit";
            break;
        }
        if (timer.virtualClock()) {
            if (!timer.fireNext()) {
                result.end = "stalled";
                break;
            }
        } else {
            WaitForSingleObject(hostMachine().interruptEvent(), 1);
        }
    }
    result.elapsedUnits = timer.now() - startUnits;
    result.expiries = timer.report().expiries - startExpiries;
    result.seconds = (GetTickCount() - started) / 1000.0;
    return result;
}
