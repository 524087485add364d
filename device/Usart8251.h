// The Intel 8251A USART as the guest sees it: the data bus buffer, the
// transmitter's holding and shift registers, the receiver's buffer, the
// status register, and the control logic that takes a mode instruction, sync
// characters and commands in turn. It knows only its pins: CTS and DSR come
// in, DTR, RTS and break go out with each command, characters are handed in
// and out as bytes, and TxRDY, TxEMPTY and RxRDY tell what it holds. Which
// line is behind the pins, and when to move a character, is the device's.
#pragma once

#include <cstdint>

#include "device/LineSettings.h"

class Usart8251 {
public:
    // A mode instruction, as bits 0-7 of the byte.
    struct ModeInstruction {
        bool synchronous;         // baud-rate factor bits 00
        std::uint32_t baudFactor;  // 1 (also for synchronous mode), 16 or 64
        std::uint8_t dataBits;    // 5 to 8
        bool parityEnable;
        bool evenParity;
        std::uint8_t stopBitsField;  // 01 one, 10 one and a half, 11 two, 00 invalid
    };
    static ModeInstruction decodeMode(std::uint8_t mode);

    // A command instruction: the enables, the output pins and the resets.
    struct CommandInstruction {
        bool txEnable;
        bool dtr;
        bool rxEnable;
        bool sendBreak;
        bool errorReset;
        bool rts;
        bool internalReset;
    };

    // Reset pin: waiting for a mode instruction, transmitter empty and ready.
    void reset();
    // Power gone: everything cleared, only TxEMPTY reads as set.
    void powerOff();

    // Where the control logic is: one of ProgramState, or any value a restored
    // save block carried.
    std::uint8_t programState() const { return programState_; }
    // The mode instruction: synchronous mode then takes two sync characters,
    // asynchronous mode takes commands at once.
    void writeMode(std::uint8_t mode);
    void writeSyncCharacter(std::uint8_t character);
    CommandInstruction writeCommand(std::uint8_t command);
    void disableTransmitterAndReceiver() { txEnable_ = rxEnable_ = 0; }

    // The data bus. A read with nothing received gives 0 and changes nothing;
    // a write replaces a character still waiting in the holding register.
    std::uint8_t readData();
    // With CTS off nothing can leave, so the transmitter reads as empty.
    void writeData(std::uint8_t value, bool cts);
    // TxRDY and TxEMPTY rebuilt from the registers and CTS.
    std::uint8_t readStatus(bool cts);

    // DSR, as the line reports it.
    void sampleDsr(bool on);
    // Receive errors the line reported; they stay latched until an error
    // reset. Break detection is not emulated, so SYNDET is only ever cleared.
    void latchErrors(bool parity, bool overrun, bool framing);
    void clearSyncDetect() { status_ &= static_cast<std::uint8_t>(~kStatusSyncDetect); }

    // RxRDY: a received character waits for the guest.
    bool rxReady() const { return rxReady_ != 0; }
    // A character from RxD. Kept (and RxRDY raised: true) only while the
    // receiver is enabled; otherwise it is dropped.
    bool receiveCharacter(std::uint8_t character);

    // The shift register holds a character and the transmitter is enabled.
    bool readyToSend() const { return txShiftFull_ != 0 && txEnable_ != 0; }
    // The character on its way out on TxD; the shift register is empty after.
    std::uint8_t sendCharacter();
    // The holding register waits for the shift register to empty.
    bool holdingWaits() const { return txShiftFull_ == 0 && txHoldingFull_ != 0; }
    // With CTS on, the holding register moves into the shift register.
    void loadShiftRegister();

    // TxRDY: the holding register is free for the guest's next character.
    bool holdingEmpty() const { return txHoldingFull_ == 0; }
    // TxEMPTY: both transmit registers are empty.
    bool transmitterEmpty() const { return txShiftFull_ == 0 && txHoldingFull_ == 0; }

    // The chip's bytes in the saved register block; the others are left alone.
    void saveTo(ChipRegisters& block) const;
    void restoreFrom(const ChipRegisters& block);

private:
    std::uint8_t rxData_ = 0;
    std::uint8_t status_ = 0;
    std::uint8_t rxReady_ = 0;
    std::uint8_t rxEnable_ = 0;
    std::uint8_t txEnable_ = 0;
    std::uint8_t txShift_ = 0;
    std::uint8_t txHolding_ = 0;
    std::uint8_t txShiftFull_ = 0;
    std::uint8_t txHoldingFull_ = 0;
    std::uint8_t programState_ = kExpectMode;
    std::uint8_t syncChar1_ = 0;
    std::uint8_t syncChar2_ = 0;
};

// The data path runs on every tick and every guest access: kept inline.
inline std::uint8_t Usart8251::readData()
{
    if (!rxReady_) return 0;
    rxReady_ = 0;
    status_ &= static_cast<std::uint8_t>(~kStatusRxReady);
    return rxData_;
}

inline void Usart8251::writeData(std::uint8_t value, bool cts)
{
    status_ &= static_cast<std::uint8_t>(~(kStatusTxReady | kStatusTxEmpty));
    txHolding_ = value;
    txHoldingFull_ = 1;
    if (!cts) status_ |= kStatusTxEmpty;
}

inline std::uint8_t Usart8251::readStatus(bool cts)
{
    status_ &= static_cast<std::uint8_t>(~(kStatusTxReady | kStatusTxEmpty));
    if (holdingEmpty()) status_ |= kStatusTxReady;
    if (transmitterEmpty() || !cts) status_ |= kStatusTxEmpty;
    return status_;
}

inline void Usart8251::sampleDsr(bool on)
{
    status_ = static_cast<std::uint8_t>((status_ & ~kStatusDsr) | (on ? kStatusDsr : 0));
}

inline void Usart8251::latchErrors(bool parity, bool overrun, bool framing)
{
    if (framing) status_ |= kStatusFramingError;
    if (overrun) status_ |= kStatusOverrunError;
    if (parity) status_ |= kStatusParityError;
}

inline bool Usart8251::receiveCharacter(std::uint8_t character)
{
    if (!rxEnable_) return false;
    rxData_ = character;
    status_ |= kStatusRxReady;
    rxReady_ = 1;
    return true;
}

inline std::uint8_t Usart8251::sendCharacter()
{
    txShiftFull_ = 0;
    return txShift_;
}

inline void Usart8251::loadShiftRegister()
{
    txShift_ = txHolding_;
    txShiftFull_ = 1;
    txHoldingFull_ = 0;
}
