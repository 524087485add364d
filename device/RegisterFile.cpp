// The guest's view of the USART data and status registers and of the RS-232C
// bits of the system port, kept in step with the line's modem inputs and
// receive errors.
#include "device/Rs232cDevice.h"

bool Rs232cDevice::ctsOn()
{
    // No line, or inputs that cannot be read, count as CTS off.
    Line* line = binding_.line();
    ModemInputs inputs{};
    return line && line->readInputs(inputs) && inputs.cts;
}

std::uint8_t Rs232cDevice::readData()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    return usart_.readData();
}

void Rs232cDevice::writeData(std::uint8_t value)
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    usart_.writeData(value, ctsOn());
}

std::uint8_t Rs232cDevice::readStatus()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    // The inputs just read for DSR also answer whether CTS is on: one query
    // of the line instead of two on every poll of the status register.
    ModemInputs inputs{};
    const bool inputsRead = refreshLines(inputs);
    pollLineErrors();
    return usart_.readStatus(inputsRead && inputs.cts);
}

std::uint8_t Rs232cDevice::readPortB()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    ModemInputs inputs{};
    refreshLines(inputs);
    pollLineErrors();
    return systemPort_.portB();
}

std::uint8_t Rs232cDevice::readPortC()
{
    ScopedLock registers(registerLock_);
    return systemPort_.interruptEnables();
}

void Rs232cDevice::writePortC(std::uint8_t value)
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    changeInterruptEnables(value);
}

void Rs232cDevice::setResetPortC(std::uint8_t value)
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    std::uint8_t enables = 0;
    if (SystemPort::setResetBit(value, systemPort_.interruptEnables(), enables)) changeInterruptEnables(enables);
}

void Rs232cDevice::refreshLineStatus()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    ModemInputs inputs{};
    refreshLines(inputs);
    pollLineErrors();
}

// At most one request, for the first rule that applies. The TxRDY rule ends
// the decision even when CTS keeps it from raising.
void Rs232cDevice::changeInterruptEnables(std::uint8_t value)
{
    const std::uint8_t switchedOn = systemPort_.writeInterruptEnables(value);
    if ((switchedOn & kEnableTxReady) && usart_.holdingEmpty()) {
        if (ctsOn()) requestInterrupt();
    } else if ((switchedOn & kEnableTxEmpty) && usart_.transmitterEmpty()) {
        requestInterrupt();
    } else if ((switchedOn & kEnableRxReady) && usart_.rxReady()) {
        requestInterrupt();
    }
}

// DSR into the status register, CI, CS and CD into port B. Inputs that cannot
// be read leave the last ones in place; no line reads as every input off.
bool Rs232cDevice::refreshLines(ModemInputs& inputs)
{
    Line* line = binding_.line();
    if (!line) {
        usart_.sampleDsr(false);
        systemPort_.showNoLine();
        return false;
    }
    if (!line->readInputs(inputs)) return false;
    usart_.sampleDsr(inputs.dsr);
    systemPort_.showInputs(inputs);
    return true;
}

std::uint32_t Rs232cDevice::pollLineErrors()
{
    usart_.clearSyncDetect();
    Line* line = binding_.line();
    if (!line) return 0;
    std::uint8_t errors = 0;
    std::uint32_t waiting = 0;
    if (!line->pollErrors(errors, waiting)) return 0;
    // Latched until the guest's error reset (or a reset, power-off or restore).
    usart_.latchErrors((errors & kLineErrorParity) != 0, (errors & kLineErrorOverrun) != 0,
                       (errors & kLineErrorFraming) != 0);
    return waiting;
}
