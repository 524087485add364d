// Port 0x32 writes. Like the 8251A: after a reset the first byte is a mode
// byte, synchronous mode takes two sync characters, and every later byte is a
// command until one carries the internal-reset bit. The mode byte is where
// the emulation meets the line: it binds the line, works out the line speed
// and hands the line its rate and character format.
#include "device/Messages.h"
#include "device/Rs232cDevice.h"

namespace {
// The character format for an asynchronous mode byte: the guest's, or the
// user's when the settings are locked; then the combinations a UART cannot
// make are brought to the nearest it can.
LineFormat formatFor(const Usart8251::ModeInstruction& mode, const LineSettings& settings, std::uint32_t rate)
{
    LineFormat format;
    format.rate = rate;
    format.dataBits = mode.dataBits;
    format.parity = !mode.parityEnable ? Parity::None : mode.evenParity ? Parity::Even : Parity::Odd;
    format.stopBits = static_cast<StopBits>(static_cast<std::uint8_t>(mode.stopBitsField - 1));  // 01 one, 10 one and a half, 11 two
    format.checkParity = mode.parityEnable;  // the guest's parity check, also when locked
    if (settings.lock == 1) {
        format.parity = static_cast<Parity>(static_cast<std::uint8_t>(settings.parity));
        format.stopBits = static_cast<StopBits>(static_cast<std::uint8_t>(settings.stopBits));
        format.dataBits = static_cast<std::uint8_t>(settings.byteSize);
    }
    // Stop-bit field 00 is taken as one stop bit, locked or not.
    if (mode.stopBitsField == 0) format.stopBits = StopBits::One;
    if (format.stopBits == StopBits::OneAndHalf && format.dataBits > 5)
        format.stopBits = StopBits::One;
    else if (format.stopBits == StopBits::Two && format.dataBits == 5)
        format.stopBits = StopBits::OneAndHalf;
    return format;
}
}  // namespace

void Rs232cDevice::writeModeCommand(std::uint8_t value)
{
    AlertScope alerts(platform_.alert);
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    takeModeOrCommand(value);
}

void Rs232cDevice::takeModeOrCommand(std::uint8_t value)
{
    switch (usart_.programState()) {
    case kExpectMode: takeModeByte(value); return;
    case kExpectSync1:
    case kExpectSync2: usart_.writeSyncCharacter(value); return;
    case kExpectCommand: takeCommand(value); return;
    default:
        // Only a restored block can leave another state: port 0x32 is deaf
        // until a reset, a power-off or another restore.
        return;
    }
}

// The mode byte binds the line (or keeps it), sets the baud factor and, in
// asynchronous mode, programs the line's rate and character format.
void Rs232cDevice::takeModeByte(std::uint8_t mode)
{
    bindLine(false);
    const Usart8251::ModeInstruction decoded = Usart8251::decodeMode(mode);
    modeByte_ = mode;
    baudFactor_ = decoded.baudFactor;
    setPanelDivider();
    // In synchronous mode the line is left alone and two sync characters follow.
    if (!decoded.synchronous) programAsynchronousLine(decoded);
    usart_.writeMode(mode);
    rearm();
}

// DTR, break and RTS dropped, the speed computed from the clock and Timer2,
// the line given the rate and the character format, and whatever waited on
// the line discarded.
void Rs232cDevice::programAsynchronousLine(const Usart8251::ModeInstruction& mode)
{
    Line* line = binding_.line();
    if (line) dropControls();
    if (timer2Count_ == 0) timer2Count_ = 1;
    computedBaud_ = divideClock(systemClock_, timer2Count_, baudFactor_);
    const std::uint32_t rate = selectRate(configuredSettings_, computedBaud_);
    setPanelNumber(kFieldComputedSpeed, computedBaud_);
    setPanelNumber(kFieldActualSpeed, rate);
    if (!line) return;

    const LineFormat format = formatFor(mode, configuredSettings_, rate);
    pacing_.formatAsked(format);
    if (binding_.hasFeature(kLineHasFormat) && !line->setFormat(format)) alertUser(kSetCommStateFailed);
    pacing_.forgetFormat();
    line->discard();
}

// A command sets the enables and the DTR, break and RTS lines; its internal
// reset first takes the USART back to expecting a mode byte and discards
// whatever waited on the line.
void Rs232cDevice::takeCommand(std::uint8_t command)
{
    const Usart8251::CommandInstruction decoded = usart_.writeCommand(command);
    Line* line = binding_.line();
    if (!line) return;
    if (decoded.internalReset) {
        dropControls();
        line->discard();
    }
    setControl(Control::Dtr, decoded.dtr);
    setControl(Control::Break, decoded.sendBreak);
    setControl(Control::Rts, decoded.rts);
}

// DTR, break and RTS off, in the order a command sets them.
void Rs232cDevice::dropControls()
{
    setControl(Control::Dtr, false);
    setControl(Control::Break, false);
    setControl(Control::Rts, false);
}

// Only where the line has the control; the result is the line's to report.
void Rs232cDevice::setControl(Control control, bool on)
{
    const LineFeature needed = control == Control::Break ? kLineHasBreak : kLineHasControls;
    if (binding_.hasFeature(needed)) binding_.line()->setControl(control, on);
}
