// The 315-byte save block, and the restore that re-opens and re-programs the
// real port the way a guest would.
#include <cstring>

#include "device/Messages.h"
#include "device/Rs232cDevice.h"

namespace {
void put32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}

std::uint8_t asFlag(std::uint8_t value) { return value != 0 ? 1 : 0; }

// A block from another build or a damaged file can hold latch values that no
// guest could produce. Bring them to what the register file can work with:
// flags are 0 or 1, the interrupt enables are three bits, and RxRDY in the
// status byte agrees with the receive latch (else a polling guest would wait
// for a byte that never comes).
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

// Only 1, 16 and 64 are baud factors; anything else is taken from the mode
// byte that set it, so no speed computation can divide by zero.
std::uint32_t restoredBaudFactor(std::uint32_t saved, std::uint8_t mode)
{
    return (saved == 1 || saved == 16 || saved == 64) ? saved : baudFactorOf(mode);
}
}  // namespace

void Rs232cDevice::saveSnapshot(std::uint8_t* block)
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    put32(block + snapshot_offset::version, kSnapshotVersion);
    std::memcpy(block + snapshot_offset::chip, &chip, sizeof chip);
    std::memcpy(block + snapshot_offset::appliedSettings, &appliedSettings, sizeof appliedSettings);
    put32(block + snapshot_offset::timer2Count, static_cast<std::uint32_t>(timer2Count));
    put32(block + snapshot_offset::baudFactor, baudFactor);
    put32(block + snapshot_offset::computedBaud, computedBaud);
    block[snapshot_offset::modeByte] = modeByte;
}

int Rs232cDevice::loadSnapshot(const std::uint8_t* block)
{
    AlertScope alerts(*this);
    if (get32(block + snapshot_offset::version) != kSnapshotVersion) {
        queueAlert(kSnapshotVersionMismatch);
        return 0;
    }
    {
        ScopedLock device(deviceLock);
        ScopedLock registers(registerLock);
        chip.txEnable = chip.rxEnable = 0;
    }

    ChipRegisters saved;
    std::memcpy(&saved, block + snapshot_offset::chip, sizeof saved);
    const bool restorePort = saved.portReady == 1;
    normaliseLatches(saved);
    const std::int32_t savedTimer2Count = static_cast<std::int32_t>(get32(block + snapshot_offset::timer2Count));
    const std::uint8_t savedModeByte = block[snapshot_offset::modeByte];

    {
        ScopedLock device(deviceLock);
        ScopedLock registers(registerLock);
        if (restorePort) {
            std::memcpy(&appliedSettings, block + snapshot_offset::appliedSettings, sizeof appliedSettings);
            restoring = true;
            restoreOpenAttempted = false;
            openPort(true);
        }
        timer2Count = savedTimer2Count;  // a count of 0 stays 0 until it is next used
        baudFactor = restoredBaudFactor(get32(block + snapshot_offset::baudFactor), savedModeByte);
        computedBaud = get32(block + snapshot_offset::computedBaud);
        modeByte = savedModeByte;
    }

    if (restorePort) {
        // Program the port as the saved guest did, with the saved settings
        // standing in for the user's until it is done.
        ScopedLock device(deviceLock);
        LineSettings userSettings;
        std::memcpy(&userSettings, &configuredSettings, sizeof userSettings);
        std::memcpy(&configuredSettings, &appliedSettings, sizeof configuredSettings);
        // Three bytes bring any state 0 to 3 back to a command, the internal
        // reset then expects a mode byte.
        static const std::uint8_t kBackToModeByte[] = {0x00, 0x00, 0x00, 0x40};
        for (std::uint8_t programming : kBackToModeByte) writeModeCommand(programming);
        writeModeCommand(savedModeByte);  // the first 0x00 may have replaced modeByte
        timer2Changed(savedTimer2Count);
        std::memcpy(&configuredSettings, &userSettings, sizeof configuredSettings);
        restoring = false;
        restoreOpenAttempted = false;
    }

    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    std::memcpy(&chip, &saved, sizeof chip);
    panelRefresh();
    return 1;
}
