#include "tools/host/Guest.h"

#include <windows.h>

#include <string>

#include "tools/host/Console.h"
#include "tools/host/HostMachine.h"
#include "tools/host/HostModel.h"
#include "tools/host/HostTimer.h"

namespace {
constexpr std::uint16_t kDataPort = 0x30;
constexpr std::uint16_t kStatusPort = 0x32;
constexpr std::uint16_t kPortC = 0x35;  // the interrupt enables, in the system port
constexpr std::uint8_t kRxInterrupt = 0x01;
constexpr std::uint8_t kTxInterrupt = 0x04;
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

namespace {
// A block of bytes to send, and room for the bytes wanted back.
class Block : public GuestData {
public:
    Block(const std::vector<std::uint8_t>& out, std::size_t want, std::vector<std::uint8_t>& received)
        : out_(out), want_(want), received_(received)
    {
    }
    bool sends() const override { return !out_.empty(); }
    bool receives() const override { return want_ > 0; }
    bool nextOut(std::uint8_t& byte) override
    {
        if (sent_ == out_.size()) return false;
        byte = out_[sent_];
        return true;
    }
    void takeOut() override { ++sent_; }
    bool roomIn() const override { return received_.size() < want_; }
    void putIn(std::uint8_t byte) override { received_.push_back(byte); }
    bool complete() const override { return sent_ == out_.size() && received_.size() >= want_; }

private:
    const std::vector<std::uint8_t>& out_;
    std::size_t want_;
    std::size_t sent_ = 0;
    std::vector<std::uint8_t>& received_;
};
}  // namespace

// In virtual time the machine stands still between commands, but a line may
// still hold the guest's last bytes: a network line hands them on at its next
// service step, which comes with a tick a millisecond (real time) or more
// after its last. The machine runs on for a few milliseconds, as it would in
// an emulator, so that they have left when the command ends.
void runOn()
{
    if (!hostTimer().virtualClock()) return;
    LARGE_INTEGER frequency, started, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    do {
        if (!letTimePass()) return;
        QueryPerformanceCounter(&now);
    } while ((now.QuadPart - started.QuadPart) * 1000 < 5 * frequency.QuadPart);
}

Transfer transfer(const std::vector<std::uint8_t>& out, std::size_t want, const TransferLimits& limits)
{
    std::vector<std::uint8_t> received;
    Block block(out, want, received);
    Transfer result = drive(block, limits, nullptr);
    result.data.swap(received);
    if (result.sent > 0 && std::string(result.end) == "done") runOn();
    return result;
}

Transfer drive(GuestData& data, const TransferLimits& limits, bool (*stopWanted)())
{
    HostTimer& timer = hostTimer();
    Transfer result;
    const std::uint64_t startUnits = timer.now();
    const std::uint64_t startExpiries = timer.report().expiries;
    const DWORD started = GetTickCount();
    DWORD lastMove = started;

    // A driver with the interrupts it needs enabled serves the USART from its
    // interrupt routine; others poll the status.
    std::uint8_t enables = 0;  // stays so where nothing answers port 0x35
    hostMachine().readPort(kPortC, enables);
    const bool interruptDriven = hostModel() == HostModel::Emulator &&
                                 (!data.sends() || (enables & kTxInterrupt)) &&
                                 (!data.receives() || (enables & kRxInterrupt));
    takeInterrupt();  // raised before the driver started: its first pass serves it
    bool serve = true;
    bool txIdle = true;   // TxRDY found nothing to send: no TxRDY interrupt comes until a write
    bool rxHeld = false;  // RxRDY found no room: no RxRDY interrupt comes until a read
    bool movedAny = false;
    std::uint8_t byte;
    for (;;) {
        bool moved = false;
        if (serve) {
            const std::uint8_t status = guestIn(kStatusPort);
            if (status & kRxReady) {
                rxHeld = !data.roomIn();
                if (!rxHeld) {
                    data.putIn(guestIn(kDataPort));
                    ++result.received;
                    moved = true;
                }
            }
            if (status & kTxReady) {
                txIdle = !data.nextOut(byte);
                if (!txIdle) {
                    guestOut(kDataPort, byte);
                    data.takeOut();
                    ++result.sent;
                    moved = true;
                }
            }
            const bool drained = (status & (kTxReady | kTxEmpty)) == (kTxReady | kTxEmpty);
            if (!moved && drained && data.complete()) break;
        }

        const DWORD now = GetTickCount();
        if (moved) {
            if (!movedAny) result.firstUnits = timer.now() - startUnits;
            movedAny = true;
            lastMove = now;
            if (!interruptDriven) continue;  // a polling guest reads the status again at once
        }
        if (stopWanted && stopWanted()) {
            result.end = "stopped";
            break;
        }
        if (now - lastMove > limits.idleMilliseconds) {
            result.end = "idle";
            break;
        }
        if (limits.totalMilliseconds && now - started > limits.totalMilliseconds) {
            result.end = "limit";
            break;
        }
        if (!letTimePass()) {
            result.end = "stalled";
            break;
        }
        data.exchange();
        serve = !interruptDriven || takeInterrupt() || (txIdle && data.nextOut(byte)) ||
                (rxHeld && data.roomIn()) || data.complete();
    }
    result.elapsedUnits = timer.now() - startUnits;
    result.expiries = timer.report().expiries - startExpiries;
    result.seconds = (GetTickCount() - started) / 1000.0;
    return result;
}
