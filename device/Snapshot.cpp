// The save block, and the restore that re-binds and re-programs the line the
// way a guest would.
#include <cstring>

#include "device/Messages.h"
#include "device/Rs232cDevice.h"

ChipRegisters Rs232cDevice::chipRegisters()
{
    ChipRegisters chip;
    std::memset(&chip, 0, sizeof chip);
    usart_.saveTo(chip);
    systemPort_.saveTo(chip);
    chip.portReady = binding_.portReady();
    chip.reserved1 = reserved_.at1;
    chip.reserved4 = reserved_.at4;
    chip.reserved16 = reserved_.at16;
    return chip;
}

void Rs232cDevice::restoreChipRegisters(const ChipRegisters& chip)
{
    usart_.restoreFrom(chip);
    systemPort_.restoreFrom(chip);
    binding_.setPortReady(chip.portReady);
    reserved_ = ReservedRegisters{chip.reserved1, chip.reserved4, chip.reserved16};
}

void Rs232cDevice::saveSnapshot(std::uint8_t* block)
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    const ChipRegisters chip = chipRegisters();
    putBlock32(block + snapshot_offset::version, kSnapshotVersion);
    std::memcpy(block + snapshot_offset::chip, &chip, sizeof chip);
    const LineSettings applied = appliedSettings_;  // assigned, so the lock analysis sees the read
    std::memcpy(block + snapshot_offset::appliedSettings, &applied, sizeof applied);
    putBlock32(block + snapshot_offset::timer2Count, static_cast<std::uint32_t>(timer2Count_));
    putBlock32(block + snapshot_offset::baudFactor, baudFactor_);
    putBlock32(block + snapshot_offset::computedBaud, computedBaud_);
    block[snapshot_offset::modeByte] = modeByte_;
}

int Rs232cDevice::loadSnapshot(const std::uint8_t* block)
{
    AlertScope alerts(platform_.alert);
    if (getBlock32(block + snapshot_offset::version) != kSnapshotVersion) {
        alertUser(kSnapshotVersionMismatch);
        return 0;
    }
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    usart_.disableTransmitterAndReceiver();

    ChipRegisters saved;
    std::memcpy(&saved, block + snapshot_offset::chip, sizeof saved);
    const bool restoreLine = saved.portReady == 1;
    normaliseLatches(saved);
    const std::int32_t savedTimer2Count = static_cast<std::int32_t>(getBlock32(block + snapshot_offset::timer2Count));
    const std::uint8_t savedModeByte = block[snapshot_offset::modeByte];

    if (restoreLine) {
        LineSettings savedSettings;
        std::memcpy(&savedSettings, block + snapshot_offset::appliedSettings, sizeof savedSettings);
        appliedSettings_ = savedSettings;
        binding_.beginRestore();
        bindLine(true);
    }
    timer2Count_ = savedTimer2Count;  // a count of 0 stays 0 until it is next used
    baudFactor_ = restoredBaudFactor(getBlock32(block + snapshot_offset::baudFactor), savedModeByte);
    computedBaud_ = getBlock32(block + snapshot_offset::computedBaud);
    modeByte_ = savedModeByte;

    if (restoreLine) {
        // Program the line as the saved guest did, with the saved settings
        // standing in for the user's until it is done.
        const LineSettings userSettings = configuredSettings_;
        configuredSettings_ = appliedSettings_;
        // Three bytes bring any state 0 to 3 back to a command, the internal
        // reset then expects a mode byte.
        static const std::uint8_t kBackToModeByte[] = {0x00, 0x00, 0x00, 0x40};
        for (std::uint8_t programming : kBackToModeByte) takeModeOrCommand(programming);
        takeModeOrCommand(savedModeByte);  // the first 0x00 may have replaced modeByte
        takeTimer2Count(savedTimer2Count);
        configuredSettings_ = userSettings;
        binding_.endRestore();
    }

    restoreChipRegisters(saved);
    panelRefresh();
    // A line that belongs to the emulated machine goes back with it.
    if (Line* line = binding_.line()) line->restored();
    return 1;
}
