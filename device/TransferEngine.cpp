// The character timer's side of the device: every expiry gives the line its
// service step, moves at most one byte each way between the USART and the
// line, then re-arms for one character time; a Timer2 change re-rates the line.
#include "device/Messages.h"
#include "device/Rs232cDevice.h"

void Rs232cDevice::rearm()
{
    const std::uint32_t rate = selectRate(configuredSettings_, computedBaud_);
    ScopedLock timer(timerLock_);
    const double bits = pacing_.bitsPerCharacter(binding_.line(), binding_.hasFeature(kLineHasFormat));
    const std::int32_t period = pacing_.nextPeriod(rate, bits);
    // Stopped first, so that an expiry still pending from the last period
    // never comes on top of the new one.
    if (!timer_) return;
    timer_->stop();
    timer_->setPeriod(period);
    timer_->start();
}

void Rs232cDevice::tick()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    {
        ScopedLock timer(timerLock_);
        stopTimer();
    }
    bool interrupt = false;
    Line* line = binding_.line();
    if (line) line->service();

    // Receive: one byte from the line into the receive buffer, if it is free.
    if (line) {
        const std::uint32_t waiting = pollLineErrors();
        std::uint8_t character = 0;
        if (!usart_.rxReady() && waiting > 0 && line->readByte(character) && usart_.receiveCharacter(character) &&
            systemPort_.enabled(kEnableRxReady))
            interrupt = true;
    }

    // Send: the shift register goes out when the transmitter is enabled. A
    // byte the line does not take is lost, as on a wire.
    if (line && usart_.readyToSend()) {
        line->writeByte(usart_.sendCharacter());
        if (usart_.transmitterEmpty() && systemPort_.enabled(kEnableTxEmpty)) interrupt = true;
    }

    // Advance: the holding register moves on while CTS is on.
    if (line && usart_.holdingWaits() && ctsOn()) {
        usart_.loadShiftRegister();
        if (systemPort_.enabled(kEnableTxReady)) interrupt = true;
    }

    if (interrupt) requestInterrupt();
    rearm();
}

void Rs232cDevice::timer2Changed(std::int32_t count)
{
    AlertScope alerts(platform_.alert);
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    takeTimer2Count(count);
}

void Rs232cDevice::takeTimer2Count(std::int32_t count)
{
    timer2Count_ = count != 0 ? count : 1;
    if (usart_.programState() == kExpectCommand) {
        computedBaud_ = divideClock(systemClock_, timer2Count_, baudFactor_);
        const std::uint32_t rate = selectRate(configuredSettings_, computedBaud_);
        if (binding_.line() && binding_.portReady() == 1) {
            if (binding_.hasFeature(kLineHasFormat) && !binding_.line()->setRate(rate)) alertUser(kSetCommStateFailed);
            pacing_.forgetFormat();
        }
        rearm();
        setPanelNumber(kFieldComputedSpeed, computedBaud_);
        setPanelNumber(kFieldActualSpeed, rate);
        setPanelDivider();
    }
    setPanelNumber(kFieldTimer2Count, static_cast<std::uint32_t>(timer2Count_));
}
