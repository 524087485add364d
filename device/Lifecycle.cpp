// Construction, settings, what the host and the panel hand over, machine
// reset and power-off, and the panel figures.
#include <cstdio>
#include <cstring>

#include "device/Rs232cDevice.h"

std::uint32_t divideClock(std::uint32_t clock, std::int32_t count, std::uint32_t factor)
{
    std::uint64_t divisor = std::uint64_t{static_cast<std::uint32_t>(count)} * factor;
    if (divisor == 0) divisor = 1;
    return static_cast<std::uint32_t>(clock / divisor);
}

void Rs232cDevice::construct(const Platform& platform)
{
    deviceLock_.create(LockRank::Device);
    registerLock_.create(LockRank::Register);
    timerLock_.create(LockRank::Timer);
    platform_ = platform;
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    ScopedLock timer(timerLock_);
    timer_ = nullptr;
    interrupt_ = nullptr;
    panel_ = nullptr;
    systemClock_ = 0;
    appliedSettings_ = LineSettings{};
    configuredSettings_ = LineSettings{};
    std::memset(userPortName_, 0, sizeof userPortName_);
    timer2Count_ = 4;
    baudFactor_ = 1;
    computedBaud_ = 0;
    modeByte_ = 0;
    usart_.reset();
    systemPort_.reset();
    reserved_ = ReservedRegisters{};
    binding_.construct(platform.lines);
    pacing_.construct();
}

void Rs232cDevice::destroy()
{
    timerLock_.destroy();
    registerLock_.destroy();
    deviceLock_.destroy();
}

void Rs232cDevice::storeSettings(const LineSettings& settings, bool alsoApplied)
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    configuredSettings_ = settings;
    std::memcpy(userPortName_, settings.portName, sizeof userPortName_);
    if (alsoApplied) appliedSettings_ = settings;
}

void Rs232cDevice::lendHost(const HostLinks& host)
{
    ScopedLock device(deviceLock_);
    ScopedLock timer(timerLock_);
    interrupt_ = host.interrupt;
    timer_ = host.timer;
}

bool Rs232cDevice::acquireTimer()
{
    ScopedLock timer(timerLock_);
    return timer_ && timer_->acquire();
}

void Rs232cDevice::setSystemClock(std::uint32_t hz)
{
    ScopedLock device(deviceLock_);
    systemClock_ = hz;
}

void Rs232cDevice::setPanel(WindowHandle panel)
{
    ScopedLock device(deviceLock_);
    panel_ = panel;
}

void Rs232cDevice::clearPanel(WindowHandle panel)
{
    ScopedLock device(deviceLock_);
    if (panel_ == panel) panel_ = nullptr;
}

void Rs232cDevice::reset()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    usart_.reset();
    systemPort_.reset();
    reserved_ = ReservedRegisters{};
    binding_.setPortReady(0);
    if (Line* line = binding_.line()) line->discard();
    panelRefresh();
}

void Rs232cDevice::powerOff()
{
    // Three steps under their own locks: a tick may run between them, and a
    // tick already started by the host still re-arms; without a line it then
    // moves nothing.
    {
        ScopedLock device(deviceLock_);
        ScopedLock registers(registerLock_);
        usart_.disableTransmitterAndReceiver();
    }
    {
        ScopedLock timer(timerLock_);
        if (timer_) timer_->halt();
    }
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    closeLine();
    usart_.powerOff();
    systemPort_.powerOff();
    reserved_ = ReservedRegisters{};
    binding_.setPortReady(0);
}

DeviceState Rs232cDevice::inspect()
{
    ScopedLock device(deviceLock_);
    ScopedLock registers(registerLock_);
    DeviceState state;
    state.chip = chipRegisters();
    state.lineOpen = binding_.line() != nullptr;
    std::memcpy(state.openPortName, binding_.openName(), sizeof state.openPortName);
    state.appliedSettings = appliedSettings_;
    state.configuredSettings = configuredSettings_;
    state.timer2Count = timer2Count_;
    state.baudFactor = baudFactor_;
    state.computedBaud = computedBaud_;
    state.modeByte = modeByte_;
    state.systemClock = systemClock_;
    return state;
}

void Rs232cDevice::panelRefresh()
{
    const std::int32_t count = timer2Count_ != 0 ? timer2Count_ : 1;
    const std::uint32_t shownSpeed = divideClock(systemClock_, count, baudFactor_);
    setPanelNumber(kFieldSystemClock, systemClock_);
    setPanelNumber(kFieldComputedSpeed, shownSpeed);
    setPanelNumber(kFieldActualSpeed, selectRate(appliedSettings_, shownSpeed));
    setPanelDivider();
    setPanelNumber(kFieldTimer2Count, static_cast<std::uint32_t>(timer2Count_));
}

void Rs232cDevice::setPanelText(int controlId, const char* text)
{
    if (panel_ && platform_.panelFields) platform_.panelFields->setText(panel_, controlId, text);
}

void Rs232cDevice::setPanelNumber(int controlId, std::uint32_t value)
{
    if (!panel_) return;
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
    setPanelText(controlId, text);
}

void Rs232cDevice::setPanelDivider()
{
    if (!panel_) return;
    char text[16];
    std::snprintf(text, sizeof text, "1/%d", static_cast<int>(baudFactor_));
    setPanelText(kFieldDivider, text);
}

// Until the host has lent its timer and interrupt line, these do nothing.
void Rs232cDevice::stopTimer()
{
    if (timer_) timer_->stop();
}

void Rs232cDevice::requestInterrupt()
{
    if (interrupt_) interrupt_->raise();
}

void Rs232cDevice::alertUser(const char* text) { queueAlert(platform_.alert, text); }
