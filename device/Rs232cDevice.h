// The emulated RS-232C interface: an 8251A-compatible USART at ports 0x30
// (data) and 0x32 (mode, command, status), the RS-232C bits of the system
// port at 0x33/0x35/0x37, interrupt line 4, bridged to a real serial port.
//
// One object holds all state. Three re-entrant locks guard it and are always
// taken in the order deviceLock, registerLock, timerLock.
#pragma once

#include <cstdint>

#include "device/Host.h"
#include "device/LineSettings.h"
#include "device/Platform.h"
#include "device/ReentrantLock.h"

// The save block: 315 bytes, no gaps, little-endian.
constexpr std::uint32_t kSnapshotSize = 315;
constexpr std::uint32_t kSnapshotVersion = 1;
namespace snapshot_offset {
constexpr std::uint32_t version = 0;
constexpr std::uint32_t chip = 4;
constexpr std::uint32_t appliedSettings = 22;
constexpr std::uint32_t timer2Count = 302;
constexpr std::uint32_t baudFactor = 306;
constexpr std::uint32_t computedBaud = 310;
constexpr std::uint32_t modeByte = 314;
}  // namespace snapshot_offset
static_assert(snapshot_offset::appliedSettings == snapshot_offset::chip + sizeof(ChipRegisters), "block layout");
static_assert(snapshot_offset::timer2Count == snapshot_offset::appliedSettings + sizeof(LineSettings), "block layout");
static_assert(snapshot_offset::modeByte + 1 == kSnapshotSize, "the save block is 315 bytes");

// Status panel figure fields the device writes, by control identifier (the
// panel checks that its controls carry these numbers).
enum PanelField : int {
    kFieldComputedSpeed = 1007,
    kFieldActualSpeed = 1008,
    kFieldTimer2Count = 1011,
    kFieldSystemClock = 1013,
    kFieldDivider = 1014,
};

struct Rs232cDevice {
    ReentrantLock deviceLock;    // everything below; first in the lock order
    ReentrantLock registerLock;  // status, portB, intMask and port closes; second
    ReentrantLock timerLock;     // calls to the host timer service; last
    PortHandle portHandle;
    WindowHandle panel;
    HostLinks host;              // the host's timer and interrupt line, once lent
    std::uint32_t systemClock;   // Hz
    char openPortName[kPortNameSize];
    LineSettings appliedSettings;     // taken by the last mode byte or restore
    LineSettings configuredSettings;  // from the settings file or the dialog
    char userPortName[kPortNameSize];  // the port the user chose; a restore may stand in for the rest
    std::int32_t timer2Count;
    std::uint32_t baudFactor;    // 1, 16 or 64
    std::uint32_t computedBaud;  // systemClock / (timer2Count * baudFactor)
    std::uint8_t modeByte;
    ChipRegisters chip;

    Platform platform;
    // Bits per character of the open port's format, read once after each
    // change of the port's line settings rather than on every tick.
    double bitsPerCharacter;
    bool bitsPerCharacterKnown;
    // While a restore programs the port: only its first open may reach the
    // platform (set by loadSnapshot, read by openPort).
    bool restoring;
    bool restoreOpenAttempted;
    // Shared by every re-arm; set at construction and untouched by reset,
    // power-off and restore.
    struct Pacing {
        std::uint32_t lastRate;  // the actual rate of the last re-arm
        double rateResidual;     // fraction of a timer unit carried into the next period
    } pacing;

    // Lifecycle
    void construct(const Platform& platform);
    void destroy();
    void storeSettings(const LineSettings& settings, bool alsoApplied);
    void reset();
    void powerOff();
    void panelRefresh();

    // Register file: ports 0x30, 0x32 (status), 0x33, 0x35, 0x37
    std::uint8_t readData();
    void writeData(std::uint8_t value);
    std::uint8_t readStatus();
    std::uint8_t readPortB();
    std::uint8_t readPortC();
    void writePortC(std::uint8_t value);
    void setResetPortC(std::uint8_t value);
    void refreshLineStatus();
    // The same, also handing back the modem lines when the query succeeded.
    bool refreshLineStatus(std::uint32_t* lines);
    std::uint32_t pollLineErrors();

    // The real port
    int openPort(bool useApplied);
    void closePort();  // with the device and register locks held

    // Port 0x32 writes: mode byte, sync characters, commands
    void writeModeCommand(std::uint8_t value);
    void takeModeByte(std::uint8_t mode);
    void programAsynchronousLine(std::uint8_t mode);
    void takeSyncCharacter(std::uint8_t value);
    void takeCommand(std::uint8_t command);
    void dropOutputLines();  // with the port open

    // Character timer
    void rearm();
    void tick();
    void timer2Changed(std::int32_t count);

    // Save state
    void saveSnapshot(std::uint8_t* block);
    int loadSnapshot(const std::uint8_t* block);

    // Helpers shared by the operations above
    bool portOpen() const { return portHandle != kNoPort; }
    bool ctsOn();
    void stopTimer();
    void armTimer(std::int32_t period);
    void requestInterrupt();
    void setPanelText(int controlId, const char* text);
    void setPanelNumber(int controlId, std::uint32_t value);
    void setPanelDivider();
    void forgetCharacterFormat() { bitsPerCharacterKnown = false; }
    void queueAlert(const char* text);
};

// systemClock / (count * factor) without overflow or division by zero: the
// product is formed in 64 bits from the count's unsigned 32-bit value, and a
// zero divisor counts as 1.
std::uint32_t divideClock(std::uint32_t clock, std::int32_t count, std::uint32_t factor);

// The baud factor a mode byte selects: 1 for bits 00 and 01, 16, 64.
std::uint32_t baudFactorOf(std::uint8_t modeByte);

// Holds back the message boxes that the device's operations raise until the
// outermost operation on this thread has released every lock, so that a
// waiting user never freezes the tick, the guest or the panel.
class AlertScope {
public:
    explicit AlertScope(Rs232cDevice& device);
    ~AlertScope();
    AlertScope(const AlertScope&) = delete;
    AlertScope& operator=(const AlertScope&) = delete;

private:
    Rs232cDevice& device_;
};
