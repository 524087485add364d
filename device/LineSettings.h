// Line settings, the emulated register block and the standard rates.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kPortNameSize = 260;  // port name buffers, NUL included

// The values of LineSettings.parity and .stopBits (the platform's NOPARITY,
// ODDPARITY, EVENPARITY and ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS).
enum ParityCode : std::uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum StopBitsCode : std::uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// One copy of the user's (or the guest's) line settings. Stored whole in the
// save block, so the layout is fixed: 280 bytes, little-endian integers.
struct LineSettings {
    std::int32_t lock;      // 1: the user's rate, parity, stop bits and size win over the guest's
    std::int32_t baudRate;  // one of StandardRates
    std::int32_t parity;    // 0 none, 1 odd, 2 even
    std::int32_t stopBits;  // 0 one, 1 one and a half, 2 two
    std::int32_t byteSize;  // 5 to 8
    char portName[kPortNameSize];  // "COM1", NUL-terminated ANSI text
};
static_assert(sizeof(LineSettings) == 280, "LineSettings is stored in save blocks");
static_assert(offsetof(LineSettings, lock) == 0 && offsetof(LineSettings, baudRate) == 4 &&
                  offsetof(LineSettings, parity) == 8 && offsetof(LineSettings, stopBits) == 12 &&
                  offsetof(LineSettings, byteSize) == 16 && offsetof(LineSettings, portName) == 20,
              "LineSettings layout");

// The emulated 8251A's registers and latches, one byte each, saved whole.
struct ChipRegisters {
    std::uint8_t rxData;        // received byte held for the guest
    std::uint8_t reserved1;
    std::uint8_t status;        // see StatusBit
    std::uint8_t portB;         // port 0x33: bit 7 CI, 6 CS, 5 CD, each 0 when the signal is on
    std::uint8_t reserved4;
    std::uint8_t intMask;       // port 0x35: see InterruptEnable
    std::uint8_t rxReady;       // rxData holds a byte not yet read
    std::uint8_t rxEnable;      // command bit 2
    std::uint8_t txEnable;      // command bit 0
    std::uint8_t txShift;       // transmit shift register
    std::uint8_t txHolding;     // transmit holding register
    std::uint8_t txShiftFull;
    std::uint8_t txHoldingFull;
    std::uint8_t programState;  // see ProgramState
    std::uint8_t syncChar1;
    std::uint8_t syncChar2;
    std::uint8_t reserved16;
    std::uint8_t portReady;     // the last port open succeeded
};
static_assert(sizeof(ChipRegisters) == 18, "ChipRegisters is stored in save blocks");
static_assert(offsetof(ChipRegisters, status) == 2 && offsetof(ChipRegisters, portB) == 3 &&
                  offsetof(ChipRegisters, intMask) == 5 && offsetof(ChipRegisters, txShiftFull) == 11 &&
                  offsetof(ChipRegisters, programState) == 13 && offsetof(ChipRegisters, portReady) == 17,
              "ChipRegisters layout");

// USART status register bits (port 0x32 read).
enum StatusBit : std::uint8_t {
    kStatusTxReady = 0x01,
    kStatusRxReady = 0x02,
    kStatusTxEmpty = 0x04,
    kStatusParityError = 0x08,
    kStatusOverrunError = 0x10,
    kStatusFramingError = 0x20,
    kStatusSyncDetect = 0x40,  // break detection is not emulated: never set
    kStatusDsr = 0x80,
    // What the command's error reset clears: the three error latches and SYNDET.
    kStatusClearedByErrorReset = kStatusParityError | kStatusOverrunError | kStatusFramingError | kStatusSyncDetect,
};

// System port B bits (port 0x33 read); a bit reads 0 while its signal is on.
enum PortBBit : std::uint8_t {
    kPortBCiOff = 0x80,
    kPortBCsOff = 0x40,
    kPortBCdOff = 0x20,
    kPortBAllOff = 0xE0,
    kPortBOtherBits = 0x1F,  // bits 0-4 belong to other parts of the machine
};

// System port C interrupt enables (port 0x35, set and reset through 0x37).
enum InterruptEnable : std::uint8_t {
    kEnableRxReady = 0x01,
    kEnableTxEmpty = 0x02,
    kEnableTxReady = 0x04,
    kEnableMask = 0x07,
};

// Where the 8251A is in its programming sequence.
enum ProgramState : std::uint8_t {
    kExpectMode = 0,
    kExpectSync1 = 1,
    kExpectSync2 = 2,
    kExpectCommand = 3,
};

// The ten rates the line can run at, ending with a 0 that is not a rate.
extern const std::uint32_t StandardRates[11];
constexpr int kStandardRateCount = 10;

// The actual line rate: the locked rate when the settings are locked, else the
// first standard rate at or above the computed speed; 115200 when nothing fits.
std::uint32_t selectRate(const LineSettings& settings, std::uint32_t computedSpeed);

// True for one of the ten standard rates.
bool isStandardRate(std::int64_t rate);
