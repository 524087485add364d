// The guest's side of the USART, played as a guest driver would: it writes a
// byte to port 0x30 when the status at port 0x32 shows TxRDY and reads one
// when it shows RxRDY.
//
// How it learns that the USART wants serving depends on the host model: on
// the emulator's loop, a driver whose interrupts are enabled (RxRDY and
// TxRDY, port 0x35) serves it from its interrupt service routine, run at the
// guest's next step after a tick raised line 4; a guest without them, and
// every guest of the threaded host, polls the status, and when nothing moved
// lets time pass (the next expiry, or in the threaded host a wait for line 4
// or a millisecond).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What the guest moves through the USART: the bytes it sends and where the
// bytes it receives go.
class GuestData {
public:
    virtual ~GuestData() = default;
    virtual bool sends() const = 0;     // has, or may later have, bytes to send
    virtual bool receives() const = 0;  // takes received bytes
    // The next byte to send, if one is ready; taken once the USART has it.
    virtual bool nextOut(std::uint8_t& byte) = 0;
    virtual void takeOut() = 0;
    virtual bool roomIn() const = 0;
    virtual void putIn(std::uint8_t byte) = 0;
    // Everything sent and received: the guest stops once both transmit registers are empty.
    virtual bool complete() const = 0;
    // Between the guest's steps: whatever the data's own side needs doing.
    virtual void exchange() {}
};

struct Transfer {
    std::size_t sent = 0;
    std::size_t received = 0;
    std::vector<std::uint8_t> data;  // what a transfer received
    std::uint64_t elapsedUnits = 0;  // timer units of 10 microseconds
    std::uint64_t firstUnits = 0;    // until the first byte moved, either way
    std::uint64_t expiries = 0;
    double seconds = 0;              // real time taken
    // done, idle (nothing moved for too long), limit, stalled (no timer), stopped
    const char* end = "done";
};

struct TransferLimits {
    std::uint32_t idleMilliseconds = 5000;  // real time without a byte moving
    std::uint32_t totalMilliseconds = 0;    // real time in all; 0 for no limit
};

// Sends `out` (and waits until both transmit registers are empty) while
// receiving up to `want` bytes.
Transfer transfer(const std::vector<std::uint8_t>& out, std::size_t want, const TransferLimits& limits);

// Moves `data` through the USART until it is complete, a limit is reached or
// `stopWanted` says so.
Transfer drive(GuestData& data, const TransferLimits& limits, bool (*stopWanted)());

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
