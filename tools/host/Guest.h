// The guest's side of the USART, played as a guest driver would: it writes a
// byte to port 0x30 whenever the status at port 0x32 shows TxRDY and reads
// one whenever it shows RxRDY. When there is nothing to do it lets time pass:
// in virtual time it fires the next timer expiry, in real time it waits for
// interrupt line 4 (or a millisecond).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Transfer {
    std::size_t sent = 0;
    std::vector<std::uint8_t> received;
    std::uint64_t elapsedUnits = 0;  // timer units of 10 microseconds
    std::uint64_t expiries = 0;
    double seconds = 0;              // real time taken
    const char* end = "done";        // done, idle (nothing moved for too long), limit, stalled (no timer)
};

struct TransferLimits {
    std::uint32_t idleMilliseconds = 5000;  // real time without a byte moving
    std::uint32_t totalMilliseconds = 0;    // real time in all; 0 for no limit
};

// Sends `out` (and waits until both transmit registers are empty) while
// receiving up to `want` bytes.
Transfer transfer(const std::vector<std::uint8_t>& out, std::size_t want, const TransferLimits& limits);

std::uint8_t guestIn(std::uint16_t port);
void guestOut(std::uint16_t port, std::uint8_t value);

// Real time the guest has spent inside the plug-in's port handlers, and how
// many accesses it made, since the program started.
std::uint64_t guestMicroseconds();
std::uint64_t guestAccesses();
// The longest single port access since the last call that forgot it, how
// many took over a millisecond, and how many there were.
struct LongestAccess {
    std::uint64_t microseconds;
    std::uint64_t overMillisecond;
    std::uint64_t timed;
};
LongestAccess guestLongestAccess(bool forget);
