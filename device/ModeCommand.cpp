// Port 0x32 writes. Like the 8251A: after a reset the first byte is a mode
// byte, synchronous mode takes two sync characters, and every later byte is a
// command until one carries the internal-reset bit.
#include "device/Messages.h"
#include "device/Rs232cDevice.h"

namespace {
// Mode byte fields
constexpr std::uint8_t kModeFactorMask = 0x03;     // 00 synchronous, 01 x1, 10 x16, 11 x64
constexpr std::uint8_t kModeSynchronous = 0x00;
constexpr int kModeLengthShift = 2;                // 5 + bits 2-3 data bits
constexpr std::uint8_t kModeLengthMask = 0x03;     // after the shift
constexpr std::uint8_t kModeParityEnable = 0x10;
constexpr std::uint8_t kModeEvenParity = 0x20;
constexpr int kModeStopShift = 6;                  // 01 one, 10 one and a half, 11 two

// Command byte bits
constexpr std::uint8_t kCommandTxEnable = 0x01;
constexpr std::uint8_t kCommandDtr = 0x02;
constexpr std::uint8_t kCommandRxEnable = 0x04;
constexpr std::uint8_t kCommandBreak = 0x08;
constexpr std::uint8_t kCommandErrorReset = 0x10;
constexpr std::uint8_t kCommandRts = 0x20;
constexpr std::uint8_t kCommandInternalReset = 0x40;

// The DCB flag word below its 17 reserved bits: fBinary, DTR and RTS under
// handshake control, transmission continuing after XOFF, no flow control on
// either side; fParity added when the mode byte enables parity.
constexpr std::uint32_t kDcbFlagsKeptMask = 0xFFFF8000u;
constexpr std::uint32_t kDcbFlags = 0x20A1;
constexpr std::uint32_t kDcbParityFlag = 0x0002;
constexpr std::uint32_t kDcbLength = 28;

struct CharacterFormat {
    std::uint8_t byteSize;
    std::uint8_t parity;
    std::uint8_t stopBits;
};

CharacterFormat formatFor(std::uint8_t mode, const LineSettings& settings)
{
    CharacterFormat format;
    const unsigned stopField = mode >> kModeStopShift;
    format.byteSize = static_cast<std::uint8_t>(5 + ((mode >> kModeLengthShift) & kModeLengthMask));
    format.parity = !(mode & kModeParityEnable) ? kNoParity : (mode & kModeEvenParity) ? kEvenParity : kOddParity;
    format.stopBits = static_cast<std::uint8_t>(stopField - 1);
    if (settings.lock == 1) {
        format.parity = static_cast<std::uint8_t>(settings.parity);
        format.stopBits = static_cast<std::uint8_t>(settings.stopBits);
        format.byteSize = static_cast<std::uint8_t>(settings.byteSize);
    }
    // Stop-bit field 00 is taken as one stop bit, locked or not; then the
    // combinations a UART cannot make are brought to the nearest it can.
    if (stopField == 0) format.stopBits = kOneStopBit;
    if (format.stopBits == kOne5StopBits && format.byteSize > 5)
        format.stopBits = kOneStopBit;
    else if (format.stopBits == kTwoStopBits && format.byteSize == 5)
        format.stopBits = kOne5StopBits;
    return format;
}
}  // namespace

std::uint32_t baudFactorOf(std::uint8_t modeByte)
{
    static const std::uint32_t factors[4] = {1, 1, 16, 64};
    return factors[modeByte & kModeFactorMask];
}

void Rs232cDevice::writeModeCommand(std::uint8_t value)
{
    AlertScope alerts(*this);
    ScopedLock device(deviceLock);
    switch (chip.programState) {
    case kExpectMode: takeModeByte(value); return;
    case kExpectSync1:
    case kExpectSync2: takeSyncCharacter(value); return;
    case kExpectCommand: takeCommand(value); return;
    default:
        // Only a restored block can leave another state: port 0x32 is deaf
        // until a reset, a power-off or another restore.
        return;
    }
}

// The mode byte opens the port (or keeps it), sets the baud factor and, in
// asynchronous mode, programs the port's rate and character format.
void Rs232cDevice::takeModeByte(std::uint8_t mode)
{
    openPort(false);
    modeByte = mode;
    baudFactor = baudFactorOf(mode);
    setPanelDivider();
    if ((mode & kModeFactorMask) == kModeSynchronous)
        chip.programState = kExpectSync1;  // the line is left alone and two sync characters follow
    else
        programAsynchronousLine(mode);
    rearm();
}

// An asynchronous mode byte: DTR, break and RTS dropped, the speed computed
// from the clock and Timer2, and the port's DCB written with the rate and
// the character format; then commands follow.
void Rs232cDevice::programAsynchronousLine(std::uint8_t mode)
{
    ScopedLock registers(registerLock);
    CommState state{};
    bool stateRead = false;
    if (portOpen()) {
        dropOutputLines();
        stateRead = platform.serial->getState(portHandle, state);
    }
    if (timer2Count == 0) timer2Count = 1;
    computedBaud = divideClock(systemClock, timer2Count, baudFactor);
    const std::uint32_t rate = selectRate(configuredSettings, computedBaud);
    setPanelNumber(kFieldComputedSpeed, computedBaud);
    setPanelNumber(kFieldActualSpeed, rate);

    if (portOpen()) {
        const CharacterFormat format = formatFor(mode, configuredSettings);
        state.ByteSize = format.byteSize;
        state.Parity = format.parity;
        state.StopBits = format.stopBits;
        state.BaudRate = rate;
        state.DCBlength = kDcbLength;
        state.flags = (state.flags & kDcbFlagsKeptMask) | kDcbFlags | ((mode & kModeParityEnable) ? kDcbParityFlag : 0);
        // A record that could not be read is not written back: its other
        // fields would be guesses. The user hears of it either way.
        if (!stateRead || !platform.serial->setState(portHandle, state)) queueAlert(kSetCommStateFailed);
        forgetCharacterFormat();
        platform.serial->purge(portHandle, kPurgeAll);
    }
    chip.programState = kExpectCommand;
}

// DTR, break and RTS off, in the order a command sets them.
void Rs232cDevice::dropOutputLines()
{
    platform.serial->escape(portHandle, EscapeCode::ClrDtr);
    platform.serial->escape(portHandle, EscapeCode::ClrBreak);
    platform.serial->escape(portHandle, EscapeCode::ClrRts);
}

// Synchronous mode: the two sync characters are kept, then commands follow.
void Rs232cDevice::takeSyncCharacter(std::uint8_t value)
{
    if (chip.programState == kExpectSync1) {
        chip.syncChar1 = value;
        chip.programState = kExpectSync2;
    } else {
        chip.syncChar2 = value;
        chip.programState = kExpectCommand;
    }
}

// A command sets the enables and the DTR, break and RTS lines; its internal
// reset first takes the USART back to expecting a mode byte.
void Rs232cDevice::takeCommand(std::uint8_t command)
{
    ScopedLock registers(registerLock);
    if (command & kCommandInternalReset) {
        if (portOpen()) dropOutputLines();
        chip.txEnable = chip.rxEnable = chip.rxReady = 0;
        if (portOpen()) platform.serial->purge(portHandle, kPurgeAll);
        chip.status = static_cast<std::uint8_t>((chip.status & kStatusDsr) | kStatusTxReady | kStatusTxEmpty);
        chip.txShiftFull = chip.txHoldingFull = 0;
        chip.programState = kExpectMode;
    }
    if (command & kCommandErrorReset) chip.status &= static_cast<std::uint8_t>(~kStatusClearedByErrorReset);
    if (portOpen()) {
        platform.serial->escape(portHandle, (command & kCommandDtr) ? EscapeCode::SetDtr : EscapeCode::ClrDtr);
        platform.serial->escape(portHandle, (command & kCommandBreak) ? EscapeCode::SetBreak : EscapeCode::ClrBreak);
        platform.serial->escape(portHandle, (command & kCommandRts) ? EscapeCode::SetRts : EscapeCode::ClrRts);
    }
    chip.txEnable = (command & kCommandTxEnable) ? 1 : 0;
    chip.rxEnable = (command & kCommandRxEnable) ? 1 : 0;
}
