// The character timer: every expiry moves at most one byte each way between
// the emulated USART and the real port, then re-arms for one character time.
#include "device/Messages.h"
#include "device/Rs232cDevice.h"

namespace {
constexpr double kTimerUnitsPerSecond = 100000.0;  // periods are in 10 us units
}  // namespace

void Rs232cDevice::rearm()
{
    ScopedLock timer(timerLock);
    Pacing& pace = pacing;
    const std::uint32_t rate = selectRate(configuredSettings, computedBaud);
    if (rate != pace.lastRate) {
        pace.lastRate = rate;
        pace.rateResidual = 0.0;
    }

    // Start bit not counted; stop-bit codes 0, 1, 2 count 1, 1.5 and 2 bits.
    double bits = 8.0;
    if (portOpen()) {
        if (!bitsPerCharacterKnown) {
            CommState state;
            if (platform.serial->getState(portHandle, state)) {
                bitsPerCharacter = 0.5 * (state.StopBits + 2) + (state.Parity != kNoParity ? 1 : 0) + state.ByteSize;
                bitsPerCharacterKnown = true;
            }
        }
        if (bitsPerCharacterKnown) bits = bitsPerCharacter;
    }

    // The fraction each period loses is carried into the next, so the long-run
    // pace is exact at every rate.
    const double t = bits * kTimerUnitsPerSecond / rate + pace.rateResidual;
    std::int32_t period = static_cast<std::int32_t>(t);
    pace.rateResidual = t - period;
    // A zero period would make the host's timer fire without pause; only a
    // port reporting a nonsensical format could ask for one.
    if (period < 1) period = 1;

    armTimer(period);
}

void Rs232cDevice::tick()
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    {
        ScopedLock timer(timerLock);
        stopTimer();
    }
    bool interrupt = false;

    // Receive: one byte from the port into the receive register, if it is free.
    if (portOpen()) {
        const std::uint32_t queued = pollLineErrors();
        if (!chip.rxReady && queued > 0) {
            std::uint8_t byte = 0;
            std::uint32_t got = 0;
            if (platform.serial->readByte(portHandle, byte, got) && got == 1 && chip.rxEnable) {
                chip.rxData = byte;
                chip.status |= kStatusRxReady;
                if (chip.intMask & kEnableRxReady) interrupt = true;
                chip.rxReady = 1;
            }
        }
    }

    // Send: the shift register goes out when the transmitter is enabled.
    if (chip.txShiftFull == 1 && chip.txEnable && portOpen()) {
        platform.serial->writeByte(portHandle, chip.txShift);
        chip.txShiftFull = 0;
        if (!chip.txHoldingFull && (chip.intMask & kEnableTxEmpty)) interrupt = true;
    }

    // Advance: the holding register moves on while CTS is on.
    if (portOpen() && !chip.txShiftFull && chip.txHoldingFull == 1 && ctsOn()) {
        chip.txShift = chip.txHolding;
        chip.txShiftFull = 1;
        chip.txHoldingFull = 0;
        if (chip.intMask & kEnableTxReady) interrupt = true;
    }

    if (interrupt) requestInterrupt();
    rearm();
}

void Rs232cDevice::timer2Changed(std::int32_t count)
{
    AlertScope alerts(*this);
    ScopedLock device(deviceLock);
    timer2Count = count != 0 ? count : 1;
    if (chip.programState == kExpectCommand) {
        computedBaud = divideClock(systemClock, timer2Count, baudFactor);
        const std::uint32_t rate = selectRate(configuredSettings, computedBaud);
        if (portOpen() && chip.portReady == 1) {
            CommState state;
            bool written = false;
            if (platform.serial->getState(portHandle, state)) {
                state.BaudRate = rate;
                written = platform.serial->setState(portHandle, state);
            }
            if (!written) queueAlert(kSetCommStateFailed);
            forgetCharacterFormat();
        }
        rearm();
        setPanelNumber(kFieldComputedSpeed, computedBaud);
        setPanelNumber(kFieldActualSpeed, rate);
        setPanelDivider();
    }
    setPanelNumber(kFieldTimer2Count, static_cast<std::uint32_t>(timer2Count));
}
