#include "device/SystemPort.h"

void SystemPort::showInputs(const ModemInputs& inputs)
{
    std::uint8_t bits = portB_ & kPortBOtherBits;
    if (!inputs.ring) bits |= kPortBCiOff;
    if (!inputs.cts) bits |= kPortBCsOff;
    if (!inputs.dcd) bits |= kPortBCdOff;
    portB_ = bits;
}

std::uint8_t SystemPort::writeInterruptEnables(std::uint8_t value)
{
    const std::uint8_t before = interruptEnables();
    intMask_ = value & kEnableMask;
    return static_cast<std::uint8_t>(intMask_ & ~before);
}

bool SystemPort::setResetBit(std::uint8_t value, std::uint8_t enables, std::uint8_t& result)
{
    if (value > 5) return false;
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << (value >> 1));
    result = (value & 1) ? static_cast<std::uint8_t>(enables | bit) : static_cast<std::uint8_t>(enables & ~bit);
    return true;
}

void SystemPort::saveTo(ChipRegisters& block) const
{
    block.portB = portB_;
    block.intMask = intMask_;
}

void SystemPort::restoreFrom(const ChipRegisters& block)
{
    portB_ = block.portB;
    intMask_ = block.intMask;
}
