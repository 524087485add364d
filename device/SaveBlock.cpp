#include "device/SaveBlock.h"

#include "device/Usart8251.h"

namespace {
std::uint8_t asFlag(std::uint8_t value) { return value != 0 ? 1 : 0; }
}  // namespace

void putBlock32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getBlock32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}

// Flags are 0 or 1, the interrupt enables three bits, and RxRDY in the status
// byte agrees with the receive latch (else a polling guest would wait for a
// byte that never comes).
void normaliseLatches(ChipRegisters& chip)
{
    chip.rxReady = asFlag(chip.rxReady);
    chip.rxEnable = asFlag(chip.rxEnable);
    chip.txEnable = asFlag(chip.txEnable);
    chip.txShiftFull = asFlag(chip.txShiftFull);
    chip.txHoldingFull = asFlag(chip.txHoldingFull);
    chip.portReady = chip.portReady == 1 ? 1 : 0;
    chip.intMask &= kEnableMask;
    // Port 0x33 is shared with the rest of the machine: only CI, CS and CD are
    // this interface's to report, the host merges the other bits from elsewhere.
    chip.portB &= static_cast<std::uint8_t>(~kPortBOtherBits);
    chip.status = static_cast<std::uint8_t>((chip.status & ~kStatusRxReady) | (chip.rxReady ? kStatusRxReady : 0));
}

std::uint32_t restoredBaudFactor(std::uint32_t saved, std::uint8_t modeByte)
{
    return (saved == 1 || saved == 16 || saved == 64) ? saved : Usart8251::decodeMode(modeByte).baudFactor;
}
