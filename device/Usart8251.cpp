#include "device/Usart8251.h"

namespace {
// Mode instruction fields
constexpr std::uint8_t kModeFactorMask = 0x03;  // 00 synchronous, 01 x1, 10 x16, 11 x64
constexpr int kModeLengthShift = 2;             // 5 + bits 2-3 data bits
constexpr std::uint8_t kModeLengthMask = 0x03;  // after the shift
constexpr std::uint8_t kModeParityEnable = 0x10;
constexpr std::uint8_t kModeEvenParity = 0x20;
constexpr int kModeStopShift = 6;

// Command instruction bits
constexpr std::uint8_t kCommandTxEnable = 0x01;
constexpr std::uint8_t kCommandDtr = 0x02;
constexpr std::uint8_t kCommandRxEnable = 0x04;
constexpr std::uint8_t kCommandBreak = 0x08;
constexpr std::uint8_t kCommandErrorReset = 0x10;
constexpr std::uint8_t kCommandRts = 0x20;
constexpr std::uint8_t kCommandInternalReset = 0x40;

std::uint8_t asFlag(bool on) { return on ? 1 : 0; }
}  // namespace

Usart8251::ModeInstruction Usart8251::decodeMode(std::uint8_t mode)
{
    static const std::uint32_t factors[4] = {1, 1, 16, 64};
    ModeInstruction decoded;
    decoded.synchronous = (mode & kModeFactorMask) == 0;
    decoded.baudFactor = factors[mode & kModeFactorMask];
    decoded.dataBits = static_cast<std::uint8_t>(5 + ((mode >> kModeLengthShift) & kModeLengthMask));
    decoded.parityEnable = (mode & kModeParityEnable) != 0;
    decoded.evenParity = (mode & kModeEvenParity) != 0;
    decoded.stopBitsField = static_cast<std::uint8_t>(mode >> kModeStopShift);
    return decoded;
}

void Usart8251::reset()
{
    *this = Usart8251();
    status_ = kStatusTxReady | kStatusTxEmpty;
}

void Usart8251::powerOff()
{
    *this = Usart8251();
    status_ = kStatusTxEmpty;
}

void Usart8251::writeMode(std::uint8_t mode)
{
    programState_ = decodeMode(mode).synchronous ? kExpectSync1 : kExpectCommand;
}

void Usart8251::writeSyncCharacter(std::uint8_t character)
{
    if (programState_ == kExpectSync1) {
        syncChar1_ = character;
        programState_ = kExpectSync2;
    } else {
        syncChar2_ = character;
        programState_ = kExpectCommand;
    }
}

// An internal reset takes the chip back to expecting a mode instruction; the
// rest of the same byte still applies after it. DSR, the received character
// and whatever the guest enabled elsewhere survive the reset.
Usart8251::CommandInstruction Usart8251::writeCommand(std::uint8_t command)
{
    const CommandInstruction decoded{(command & kCommandTxEnable) != 0,    (command & kCommandDtr) != 0,
                                     (command & kCommandRxEnable) != 0,    (command & kCommandBreak) != 0,
                                     (command & kCommandErrorReset) != 0,  (command & kCommandRts) != 0,
                                     (command & kCommandInternalReset) != 0};
    if (decoded.internalReset) {
        rxReady_ = 0;
        status_ = static_cast<std::uint8_t>((status_ & kStatusDsr) | kStatusTxReady | kStatusTxEmpty);
        txShiftFull_ = txHoldingFull_ = 0;
        programState_ = kExpectMode;
    }
    if (decoded.errorReset) status_ &= static_cast<std::uint8_t>(~kStatusClearedByErrorReset);
    txEnable_ = asFlag(decoded.txEnable);
    rxEnable_ = asFlag(decoded.rxEnable);
    return decoded;
}

void Usart8251::saveTo(ChipRegisters& block) const
{
    block.rxData = rxData_;
    block.status = status_;
    block.rxReady = rxReady_;
    block.rxEnable = rxEnable_;
    block.txEnable = txEnable_;
    block.txShift = txShift_;
    block.txHolding = txHolding_;
    block.txShiftFull = txShiftFull_;
    block.txHoldingFull = txHoldingFull_;
    block.programState = programState_;
    block.syncChar1 = syncChar1_;
    block.syncChar2 = syncChar2_;
}

void Usart8251::restoreFrom(const ChipRegisters& block)
{
    rxData_ = block.rxData;
    status_ = block.status;
    rxReady_ = block.rxReady;
    rxEnable_ = block.rxEnable;
    txEnable_ = block.txEnable;
    txShift_ = block.txShift;
    txHolding_ = block.txHolding;
    txShiftFull_ = block.txShiftFull;
    txHoldingFull_ = block.txHoldingFull;
    programState_ = block.programState;
    syncChar1_ = block.syncChar1;
    syncChar2_ = block.syncChar2;
}
