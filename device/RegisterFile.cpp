// The guest's view of the USART data and status registers and of the RS-232C
// bits of the system port, kept in step with the real port's modem lines and
// line errors.
#include "device/Rs232cDevice.h"

bool Rs232cDevice::ctsOn()
{
    // A modem status that cannot be read counts as CTS off.
    std::uint32_t lines = 0;
    return platform.serial->getModemStatus(portHandle, lines) && (lines & kModemCtsOn) != 0;
}

std::uint8_t Rs232cDevice::readData()
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    if (!chip.rxReady) return 0;
    chip.rxReady = 0;
    chip.status &= static_cast<std::uint8_t>(~kStatusRxReady);
    return chip.rxData;
}

void Rs232cDevice::writeData(std::uint8_t value)
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    chip.status &= static_cast<std::uint8_t>(~(kStatusTxReady | kStatusTxEmpty));
    chip.txHolding = value;  // a byte still waiting here is replaced, never sent
    chip.txHoldingFull = 1;
    // Without a port, or without CTS, nothing will ever leave: the line reads as empty.
    if (!portOpen() || !ctsOn()) chip.status |= kStatusTxEmpty;
}

std::uint8_t Rs232cDevice::readStatus()
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    // The modem lines just read for DSR also answer whether CTS is on: one
    // query of the port instead of two on every poll of the status register.
    std::uint32_t lines = 0;
    const bool linesRead = refreshLineStatus(&lines);
    chip.status &= static_cast<std::uint8_t>(~(kStatusTxReady | kStatusTxEmpty));
    if (!chip.txHoldingFull) chip.status |= kStatusTxReady;
    if (!chip.txShiftFull && !chip.txHoldingFull) chip.status |= kStatusTxEmpty;
    if (!portOpen() || !linesRead || !(lines & kModemCtsOn)) chip.status |= kStatusTxEmpty;
    return chip.status;
}

std::uint8_t Rs232cDevice::readPortB()
{
    refreshLineStatus();
    ScopedLock registers(registerLock);
    return chip.portB;
}

std::uint8_t Rs232cDevice::readPortC()
{
    ScopedLock registers(registerLock);
    return chip.intMask & kEnableMask;
}

void Rs232cDevice::writePortC(std::uint8_t value)
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    const std::uint8_t before = chip.intMask & kEnableMask;
    chip.intMask = value & kEnableMask;
    const std::uint8_t switchedOn = static_cast<std::uint8_t>(chip.intMask & ~before);

    // At most one request, for the first rule that applies. The TxRDY rule
    // ends the decision even when CTS keeps it from raising.
    if ((switchedOn & kEnableTxReady) && !chip.txHoldingFull) {
        if (portOpen() && ctsOn()) requestInterrupt();
    } else if ((switchedOn & kEnableTxEmpty) && !chip.txShiftFull && !chip.txHoldingFull) {
        requestInterrupt();
    } else if ((switchedOn & kEnableRxReady) && chip.rxReady) {
        requestInterrupt();
    }
}

void Rs232cDevice::setResetPortC(std::uint8_t value)
{
    // Port 0x37 sets or resets one bit of port C; values above 5 address bits
    // that belong to other parts of the machine.
    if (value > 5) return;
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << (value >> 1));
    std::uint8_t bits = readPortC();
    if (value & 1)
        bits |= bit;
    else
        bits &= static_cast<std::uint8_t>(~bit);
    writePortC(bits);
}

void Rs232cDevice::refreshLineStatus() { refreshLineStatus(nullptr); }

bool Rs232cDevice::refreshLineStatus(std::uint32_t* linesOut)
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    bool linesRead = false;
    if (!portOpen()) {
        chip.status &= static_cast<std::uint8_t>(~kStatusDsr);
        chip.portB = kPortBAllOff;
    } else {
        std::uint32_t lines = 0;
        linesRead = platform.serial->getModemStatus(portHandle, lines);
        if (linesRead) {
            if (linesOut) *linesOut = lines;
            chip.status = static_cast<std::uint8_t>((chip.status & ~kStatusDsr) | ((lines & kModemDsrOn) ? kStatusDsr : 0));
            std::uint8_t portB = chip.portB & kPortBOtherBits;
            if (!(lines & kModemRingOn)) portB |= kPortBCiOff;
            if (!(lines & kModemCtsOn)) portB |= kPortBCsOff;
            if (!(lines & kModemRlsdOn)) portB |= kPortBCdOff;
            chip.portB = portB;
        }
    }
    pollLineErrors();
    return linesRead;
}

std::uint32_t Rs232cDevice::pollLineErrors()
{
    chip.status &= static_cast<std::uint8_t>(~kStatusSyncDetect);
    if (!portOpen()) return 0;
    std::uint32_t errors = 0;
    std::uint32_t queued = 0;
    if (!platform.serial->clearErrors(portHandle, errors, queued)) {
        errors = 0;
        queued = 0;
    }
    // Latched until the guest's error reset (or a reset, power-off or restore).
    if (errors & kLineErrorFrame) chip.status |= kStatusFramingError;
    if (errors & (kLineErrorRxOver | kLineErrorOverrun)) chip.status |= kStatusOverrunError;
    if (errors & kLineErrorParity) chip.status |= kStatusParityError;
    return queued;
}
