// Arbitrary sequences of what the guest, the host, the dialog and the line do
// to the device, with its invariants checked after every step (GuestSession.h
// gives the input format).
#include <cstddef>
#include <cstdint>

#include "fuzz/GuestSession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    GuestSession session(in);
    session.run(in);
    return 0;
}
