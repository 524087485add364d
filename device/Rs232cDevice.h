// The emulated RS-232C interface: an 8251A-compatible USART at ports 0x30
// (data) and 0x32 (mode, command, status), the RS-232C bits of the system
// port at 0x33/0x35/0x37, interrupt line 4, bridged to a line of the user's
// choice.
//
// The host's emulation, its timer thread and its window thread all reach this
// one object. Three re-entrant locks guard it, always taken in the order
// deviceLock, registerLock, timerLock: each public operation takes the locks
// it needs once and hands them down to helpers that require them.
#pragma once

#include <cstdint>

#include "device/CharacterTimer.h"
#include "device/Host.h"
#include "device/LineSettings.h"
#include "device/Platform.h"
#include "device/PortBinding.h"
#include "device/ReentrantLock.h"
#include "device/SaveBlock.h"
#include "device/SystemPort.h"
#include "device/ThreadSafety.h"
#include "device/Usart8251.h"

// Status panel figure fields the device writes, by control identifier (the
// panel checks that its controls carry these numbers).
enum PanelField : int {
    kFieldComputedSpeed = 1007,
    kFieldActualSpeed = 1008,
    kFieldTimer2Count = 1011,
    kFieldSystemClock = 1013,
    kFieldDivider = 1014,
};

// A copy of the device's state, taken under its locks, for those who only
// look: the register block as a save block would hold it, the line and the
// figures of the line speed.
struct DeviceState {
    ChipRegisters chip;
    bool lineOpen;
    char openPortName[kPortNameSize];
    LineSettings appliedSettings;
    LineSettings configuredSettings;
    std::int32_t timer2Count;
    std::uint32_t baudFactor;
    std::uint32_t computedBaud;
    std::uint8_t modeByte;
    std::uint32_t systemClock;
};

class Rs232cDevice {
public:
    // ---- Lifecycle ----
    void construct(const Platform& platform);
    void destroy();  // the locks only: a line left open stays open
    void storeSettings(const LineSettings& settings, bool alsoApplied) EXCLUDES(deviceLock_);
    void reset() EXCLUDES(deviceLock_);
    void powerOff() EXCLUDES(deviceLock_);

    // ---- What the host and the panel hand over ----
    // The host's timer and interrupt line; until lent, their calls do nothing.
    void lendHost(const HostLinks& host) EXCLUDES(deviceLock_);
    // Binds the host's timer to the tick; false when the host refuses one.
    bool acquireTimer() EXCLUDES(timerLock_);
    void setSystemClock(std::uint32_t hz) EXCLUDES(deviceLock_);
    // The status panel the figures go to, from now on.
    void setPanel(WindowHandle panel) EXCLUDES(deviceLock_);
    // The panel is going: no more figures to it (another panel is kept).
    void clearPanel(WindowHandle panel) EXCLUDES(deviceLock_);

    // ---- Register file: ports 0x30, 0x32 (status), 0x33, 0x35, 0x37 ----
    std::uint8_t readData() EXCLUDES(deviceLock_);
    void writeData(std::uint8_t value) EXCLUDES(deviceLock_);
    std::uint8_t readStatus() EXCLUDES(deviceLock_);
    std::uint8_t readPortB() EXCLUDES(deviceLock_);
    std::uint8_t readPortC() EXCLUDES(registerLock_);
    void writePortC(std::uint8_t value) EXCLUDES(deviceLock_);
    void setResetPortC(std::uint8_t value) EXCLUDES(deviceLock_);
    void refreshLineStatus() EXCLUDES(deviceLock_);

    // ---- The line ----
    int openPort(bool useApplied) EXCLUDES(deviceLock_);

    // ---- Port 0x32 writes: mode byte, sync characters, commands ----
    void writeModeCommand(std::uint8_t value) EXCLUDES(deviceLock_);

    // ---- Character timer ----
    void tick() EXCLUDES(deviceLock_);
    void timer2Changed(std::int32_t count) EXCLUDES(deviceLock_);

    // ---- Save state ----
    void saveSnapshot(std::uint8_t* block) EXCLUDES(deviceLock_);
    int loadSnapshot(const std::uint8_t* block) EXCLUDES(deviceLock_);

    DeviceState inspect() EXCLUDES(deviceLock_);

private:
    // Register file
    bool ctsOn() REQUIRES(deviceLock_);
    bool refreshLines(ModemInputs& inputs) REQUIRES(deviceLock_, registerLock_);
    std::uint32_t pollLineErrors() REQUIRES(deviceLock_, registerLock_);
    void changeInterruptEnables(std::uint8_t value) REQUIRES(deviceLock_, registerLock_);

    // The line
    int bindLine(bool useApplied) REQUIRES(deviceLock_, registerLock_);
    void closeLine() REQUIRES(deviceLock_, registerLock_);
    void setControl(Control control, bool on) REQUIRES(deviceLock_);
    void dropControls() REQUIRES(deviceLock_);

    // Programming
    void takeModeOrCommand(std::uint8_t value) REQUIRES(deviceLock_, registerLock_);
    void takeModeByte(std::uint8_t mode) REQUIRES(deviceLock_, registerLock_);
    void programAsynchronousLine(const Usart8251::ModeInstruction& mode) REQUIRES(deviceLock_, registerLock_);
    void takeCommand(std::uint8_t command) REQUIRES(deviceLock_, registerLock_);
    void takeTimer2Count(std::int32_t count) REQUIRES(deviceLock_, registerLock_);

    // Pacing and the host
    void rearm() REQUIRES(deviceLock_) EXCLUDES(timerLock_);
    void stopTimer() REQUIRES(timerLock_);
    void requestInterrupt() REQUIRES(deviceLock_, registerLock_);

    // Panel figures
    void panelRefresh() REQUIRES(deviceLock_, registerLock_);
    void setPanelText(int controlId, const char* text) REQUIRES(deviceLock_);
    void setPanelNumber(int controlId, std::uint32_t value) REQUIRES(deviceLock_);
    void setPanelDivider() REQUIRES(deviceLock_);

    // The register block as saved, and put back
    ChipRegisters chipRegisters() REQUIRES(deviceLock_, registerLock_);
    void restoreChipRegisters(const ChipRegisters& chip) REQUIRES(deviceLock_, registerLock_);

    void alertUser(const char* text);

    ReentrantLock deviceLock_;
    ReentrantLock registerLock_ ACQUIRED_AFTER(deviceLock_);
    ReentrantLock timerLock_ ACQUIRED_AFTER(registerLock_);

    Platform platform_{};  // set at construction, never changed
    HostTimer* timer_ GUARDED_BY(timerLock_) = nullptr;
    InterruptLine* interrupt_ GUARDED_BY(deviceLock_) = nullptr;
    WindowHandle panel_ GUARDED_BY(deviceLock_) = nullptr;
    std::uint32_t systemClock_ GUARDED_BY(deviceLock_) = 0;  // Hz

    LineSettings appliedSettings_ GUARDED_BY(deviceLock_){};     // taken by the last mode byte or restore
    LineSettings configuredSettings_ GUARDED_BY(deviceLock_){};  // from the settings file or the dialog
    // The line the user chose; a restore may stand in for the rest of the settings.
    char userPortName_[kPortNameSize] GUARDED_BY(deviceLock_) = {};
    std::int32_t timer2Count_ GUARDED_BY(deviceLock_) = 4;
    std::uint32_t baudFactor_ GUARDED_BY(deviceLock_) = 1;    // 1, 16 or 64
    std::uint32_t computedBaud_ GUARDED_BY(deviceLock_) = 0;  // systemClock / (timer2Count * baudFactor)
    std::uint8_t modeByte_ GUARDED_BY(deviceLock_) = 0;

    // The status register is read from the panel's thread too: every access
    // to the chip holds the register lock as well as the device lock.
    Usart8251 usart_ GUARDED_BY(deviceLock_) GUARDED_BY(registerLock_);
    SystemPort systemPort_ GUARDED_BY(registerLock_);
    ReservedRegisters reserved_ GUARDED_BY(deviceLock_);
    PortBinding binding_ GUARDED_BY(deviceLock_);
    CharacterTimer pacing_ GUARDED_BY(deviceLock_);
};

// systemClock / (count * factor) without overflow or division by zero: the
// product is formed in 64 bits from the count's unsigned 32-bit value, and a
// zero divisor counts as 1.
std::uint32_t divideClock(std::uint32_t clock, std::int32_t count, std::uint32_t factor);

// Holds back the message boxes that the device's operations raise until the
// outermost operation on this thread has released every lock, so that a
// waiting user never freezes the tick, the guest or the panel.
class AlertScope {
public:
    explicit AlertScope(UserAlert* alert);
    ~AlertScope();
    AlertScope(const AlertScope&) = delete;
    AlertScope& operator=(const AlertScope&) = delete;

private:
    UserAlert* alert_;
};

// Shows `text` now, or when the outermost AlertScope on this thread ends.
void queueAlert(UserAlert* alert, const char* text);
