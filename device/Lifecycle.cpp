// Construction, settings, machine reset and power-off, and the panel figures.
#include <cstdio>
#include <cstring>

#include "device/Rs232cDevice.h"

std::uint32_t divideClock(std::uint32_t clock, std::int32_t count, std::uint32_t factor)
{
    std::uint64_t divisor = std::uint64_t{static_cast<std::uint32_t>(count)} * factor;
    if (divisor == 0) divisor = 1;
    return static_cast<std::uint32_t>(clock / divisor);
}

void Rs232cDevice::construct(const Platform& platformServices)
{
    deviceLock.create(LockRank::Device);
    registerLock.create(LockRank::Register);
    timerLock.create(LockRank::Timer);
    portHandle = kNoPort;
    panel = nullptr;
    host = HostLinks{nullptr, nullptr};
    systemClock = 0;
    std::memset(openPortName, 0, sizeof openPortName);
    std::memset(&appliedSettings, 0, sizeof appliedSettings);
    std::memset(&configuredSettings, 0, sizeof configuredSettings);
    std::memset(userPortName, 0, sizeof userPortName);
    timer2Count = 4;
    baudFactor = 1;
    computedBaud = 0;
    modeByte = 0;
    std::memset(&chip, 0, sizeof chip);
    chip.status = kStatusTxReady | kStatusTxEmpty;
    platform = platformServices;
    bitsPerCharacter = 8.0;
    bitsPerCharacterKnown = false;
    restoring = false;
    restoreOpenAttempted = false;
    pacing = Pacing{0, 0.0};
}

void Rs232cDevice::destroy()
{
    timerLock.destroy();
    registerLock.destroy();
    deviceLock.destroy();
}

void Rs232cDevice::storeSettings(const LineSettings& settings, bool alsoApplied)
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    std::memcpy(&configuredSettings, &settings, sizeof settings);
    std::memcpy(userPortName, settings.portName, sizeof userPortName);
    if (alsoApplied) std::memcpy(&appliedSettings, &settings, sizeof settings);
}

void Rs232cDevice::reset()
{
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    std::memset(&chip, 0, sizeof chip);
    chip.status = kStatusTxReady | kStatusTxEmpty;
    chip.programState = kExpectMode;
    chip.intMask = 0;
    chip.portB = 0x00;
    chip.txEnable = chip.rxEnable = 0;
    if (portOpen()) platform.serial->purge(portHandle, kPurgeAll);
    panelRefresh();
}

void Rs232cDevice::powerOff()
{
    // Three steps under their own locks: a tick may run between them, and a
    // tick already started by the host still re-arms; without a port it then
    // moves nothing.
    {
        ScopedLock device(deviceLock);
        chip.txEnable = chip.rxEnable = 0;
    }
    {
        ScopedLock timer(timerLock);
        if (host.timer) host.timer->halt();
    }
    ScopedLock device(deviceLock);
    ScopedLock registers(registerLock);
    if (portOpen()) closePort();
    std::memset(&chip, 0, sizeof chip);
    chip.status = kStatusTxEmpty;
    chip.portB = kPortBAllOff;
}

void Rs232cDevice::panelRefresh()
{
    const std::int32_t count = timer2Count != 0 ? timer2Count : 1;
    const std::uint32_t shownSpeed = divideClock(systemClock, count, baudFactor);
    setPanelNumber(kFieldSystemClock, systemClock);
    setPanelNumber(kFieldComputedSpeed, shownSpeed);
    setPanelNumber(kFieldActualSpeed, selectRate(appliedSettings, shownSpeed));
    setPanelDivider();
    setPanelNumber(kFieldTimer2Count, static_cast<std::uint32_t>(timer2Count));
}

void Rs232cDevice::setPanelText(int controlId, const char* text)
{
    if (panel && platform.panelFields) platform.panelFields->setText(panel, controlId, text);
}

void Rs232cDevice::setPanelNumber(int controlId, std::uint32_t value)
{
    if (!panel) return;
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
    setPanelText(controlId, text);
}

void Rs232cDevice::setPanelDivider()
{
    if (!panel) return;
    char text[16];
    std::snprintf(text, sizeof text, "1/%d", static_cast<int>(baudFactor));
    setPanelText(kFieldDivider, text);
}

// Until the host has lent its timer and interrupt line, these do nothing.
void Rs232cDevice::stopTimer()
{
    if (host.timer) host.timer->stop();
}

// One character time from now: stopped first, so that an expiry still
// pending from the last period never comes on top of the new one.
void Rs232cDevice::armTimer(std::int32_t period)
{
    if (!host.timer) return;
    host.timer->stop();
    host.timer->setPeriod(period);
    host.timer->start();
}

void Rs232cDevice::requestInterrupt()
{
    if (host.interrupt) host.interrupt->raise();
}
