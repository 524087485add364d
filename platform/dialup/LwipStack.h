// lwIP is one stack per process, run here without an operating system: its
// timers run when the dial-up session is serviced, and its clock is the
// session's. One session holds it at a time; the modem has one call at most.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/lines/Clock.h"

namespace dialup {

class LwipStack {
public:
    // Takes the stack for a session whose time `clock` keeps (initialising
    // lwIP the first time); false while another session holds it.
    static bool acquire(Clock& clock);
    // Gives it back. Whoever held it has freed every pcb, pbuf and interface
    // of its own before.
    static void release();
    // Runs lwIP's timers that are due.
    static void service();

    // What lwIP's pools and heap hold now beyond what lwIP keeps for itself
    // (its timers and its resolver's socket): zero between sessions.
    static std::size_t poolsInUse();
    static std::size_t heapInUse();
    // Elements the pools refused since the stack started (a pool was empty).
    static std::uint32_t poolFailures();
    // How many more bytes of the host's data lwIP can take to send now: what
    // its heap and its pool of TCP segments hold free, less a reserve for its
    // own answers and for the datagrams to the guest. A relay that reads no
    // more than this from the host never has lwIP refuse the bytes it read.
    static std::size_t roomToSend();
};

}  // namespace dialup
