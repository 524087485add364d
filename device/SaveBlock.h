// The 315-byte save block: the register block, the applied settings and the
// figures of the line speed, as the host stores them. No gaps, little-endian.
#pragma once

#include <cstdint>

#include "device/LineSettings.h"

constexpr std::uint32_t kSnapshotSize = 315;
constexpr std::uint32_t kSnapshotVersion = 1;
namespace snapshot_offset {
constexpr std::uint32_t version = 0;
constexpr std::uint32_t chip = 4;
constexpr std::uint32_t appliedSettings = 22;
constexpr std::uint32_t timer2Count = 302;
constexpr std::uint32_t baudFactor = 306;
constexpr std::uint32_t computedBaud = 310;
constexpr std::uint32_t modeByte = 314;
}  // namespace snapshot_offset
static_assert(snapshot_offset::appliedSettings == snapshot_offset::chip + sizeof(ChipRegisters), "block layout");
static_assert(snapshot_offset::timer2Count == snapshot_offset::appliedSettings + sizeof(LineSettings), "block layout");
static_assert(snapshot_offset::modeByte + 1 == kSnapshotSize, "the save block is 315 bytes");

// The register block's bytes that no operation uses: kept as a restore
// brings them, so that a block saved again is the block restored.
struct ReservedRegisters {
    std::uint8_t at1 = 0;
    std::uint8_t at4 = 0;
    std::uint8_t at16 = 0;
};

void putBlock32(std::uint8_t* at, std::uint32_t value);
std::uint32_t getBlock32(const std::uint8_t* at);

// A block from another build or a damaged file can hold latch values that no
// guest could produce; they are brought to what the register file can work
// with.
void normaliseLatches(ChipRegisters& chip);

// Only 1, 16 and 64 are baud factors; anything else is taken from the mode
// byte that set it, so no speed computation can divide by zero.
std::uint32_t restoredBaudFactor(std::uint32_t saved, std::uint8_t modeByte);
