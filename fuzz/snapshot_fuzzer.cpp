// Save blocks as the host may hand them back: any content, and stored data
// shorter or longer than the block, always passed on as exactly 315 bytes.
//
// Input: the session setup (GuestSession.h); a byte n and n bytes of guest
// operations run before the load; the length the host had stored (2 bytes,
// little-endian) and that many bytes; then guest operations after the load.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/GuestSession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    GuestSession session(in);

    std::size_t taken = 0;
    const std::uint8_t* before = in.bytes(in.byte(), taken);
    FuzzInput operationsBefore(before, taken);
    session.run(operationsBefore);

    // The host hands over a buffer of exactly the registered size, whatever
    // it had stored; what it lacked reads as zeros.
    const std::uint8_t* stored = in.bytes(in.u16(), taken);
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kSnapshotSize]());
    std::memcpy(block.get(), stored, taken < kSnapshotSize ? taken : kSnapshotSize);
    session.hostLoads(block.get());
    session.checkInvariants();

    session.run(in);
    return 0;
}
