// The RS-232C bits of the machine's 8255-style system port: the modem inputs
// CI, CS and CD on port B (0x33), and the three interrupt enables on port C
// (0x35, set and reset bit by bit through 0x37).
#pragma once

#include <cstdint>

#include "device/Line.h"
#include "device/LineSettings.h"

class SystemPort {
public:
    // All bits clear: the inputs read as on until the line is first looked at.
    void reset() { portB_ = intMask_ = 0; }
    // Power gone: CI, CS and CD read as off.
    void powerOff()
    {
        portB_ = kPortBAllOff;
        intMask_ = 0;
    }

    std::uint8_t portB() const { return portB_; }
    // CI, CS and CD read 0 while their signal is on; bits 0-4 are kept.
    void showInputs(const ModemInputs& inputs);
    // No line: every input reads as off.
    void showNoLine() { portB_ = kPortBAllOff; }

    std::uint8_t interruptEnables() const { return intMask_ & kEnableMask; }
    bool enabled(InterruptEnable enable) const { return (intMask_ & enable) != 0; }
    // Stores the three enables and hands back those that went from off to on.
    std::uint8_t writeInterruptEnables(std::uint8_t value);
    // Port 0x37: values 0 to 5 reset or set one enable; the result, or false
    // for any other value (those bits belong to other parts of the machine).
    static bool setResetBit(std::uint8_t value, std::uint8_t enables, std::uint8_t& result);

    void saveTo(ChipRegisters& block) const;
    void restoreFrom(const ChipRegisters& block);

private:
    std::uint8_t portB_ = 0;
    std::uint8_t intMask_ = 0;
};
