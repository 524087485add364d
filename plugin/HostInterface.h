// The host emulator's side of the plug-in boundary: its calling convention,
// the functions it lends us, and the layout of the records it hands over.
//
// The host's records are tables of pointer-sized slots. A field that sits at
// byte offset N in the 32-bit host sits at N / 4 * sizeof(void*) in a 64-bit
// build, so the structures below are written as slot tables: the 32-bit
// product reads exactly the host's offsets and the 64-bit build (run under
// Wine) reads the doubled ones. No <windows.h> here: the portable core and the
// native tests use this header too.
#pragma once

#include <cstddef>
#include <cstdint>

// Every function that crosses the boundary, in either direction, uses the
// host's convention; change it here and nowhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define HOSTCALL __cdecl
#else
#define HOSTCALL
#endif

// Byte offset, in this build, of the host field that sits at `offset32` in
// the 32-bit host.
constexpr std::size_t hostOffset(std::size_t offset32) { return offset32 / 4 * sizeof(void*); }

// ---- Timer service and interrupt request ---------------------------------

// The character timer's callback: no arguments, no result.
using TickCallback = void(HOSTCALL*)();

// Operation codes of the host timer service.
enum TimerOperation : std::int32_t {
    TimerSet = 0,      // value: period in units of 10 microseconds
    TimerAcquire = 1,  // bind a timer to the slot; low byte of the result is 1 on success
    TimerHalt = 2,     // no further expiry until the next re-arm
    TimerStart = 3,    // start counting the period of the last TimerSet
    TimerStop = 4,     // cancel any pending expiry
};

// TimerService(slot, operation, value, callback): the slot is one 32-bit word
// owned by the host; only TimerAcquire's result means anything.
using TimerServiceFn = std::uint8_t(HOSTCALL*)(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                               TickCallback callback);

// Interrupt request for the emulated machine's controller; we always pass 4.
using RaiseIrqFn = void(HOSTCALL*)(std::int32_t line);
constexpr std::int32_t kRs232cIrqLine = 4;

// ---- Handlers we register with the host ----------------------------------

using PortWriteHandler = void(HOSTCALL*)(std::uint8_t value);
using PortReadHandler = std::uint8_t(HOSTCALL*)();
using ResetHandler = std::uint8_t(HOSTCALL*)();        // returns the byte 0
using PowerOffHandler = std::uint32_t(HOSTCALL*)();    // returns the 32-bit 0
using SaveHandler = void(HOSTCALL*)(std::uint8_t* block);
using LoadHandler = std::uint8_t(HOSTCALL*)(std::uint8_t* block);  // 1 taken, 0 refused
using Timer2Notification = void(HOSTCALL*)(std::int32_t count);

// ---- Host functions that take our handlers --------------------------------

using RegisterPortWriteFn = void(HOSTCALL*)(std::uint16_t port, PortWriteHandler handler);
using RegisterPortReadFn = void(HOSTCALL*)(std::uint16_t port, PortReadHandler handler);
using RegisterResetFn = void(HOSTCALL*)(ResetHandler handler);
using RegisterSaveFn = void(HOSTCALL*)(std::uint32_t blockSize, SaveHandler handler);
using RegisterLoadFn = void(HOSTCALL*)(LoadHandler handler);
using RegisterPowerOffFn = void(HOSTCALL*)(PowerOffHandler handler);
// System-port hooks return nonzero when the host took the registration.
using PortReadHookFn = std::int32_t(HOSTCALL*)(std::uint16_t port, PortReadHandler handler);
using PortWriteHookFn = std::int32_t(HOSTCALL*)(std::uint16_t port, PortWriteHandler handler);

// ---- The host's records ----------------------------------------------------

// Emulated machine description; only the system clock (Hz) is ours to read.
struct MachineInfo {
    void* unused0[8];                 // 0..28
    std::uint32_t systemClock;        // 32
};

struct IrqController {
    void* unused0[2];                 // 0, 4
    RaiseIrqFn raiseIrq;              // 8
};

// Passed to DeviceEntry.
struct HostServices {
    void* unused0;                    // 0
    MachineInfo* machine;             // 4
    void* unused8[2];                 // 8, 12
    RegisterPortWriteFn registerPortWrite;  // 16
    void* unused20[2];                // 20, 24
    RegisterPortReadFn registerPortRead;    // 28
    void* unused32[4];                // 32..44
    RegisterResetFn registerReset;    // 48
    void* unused52;                   // 52
    RegisterSaveFn registerSave;      // 56
    RegisterLoadFn registerLoad;      // 60
    RegisterPowerOffFn registerPowerOff;  // 64
    void* unused68;                   // 68
    TimerServiceFn timerService;      // 72
    void* unused76[15];               // 76..132
    IrqController* irqController;     // 136
};

// The system port's hook functions (ports 0x33, 0x35, 0x37).
struct PortHookTable {
    PortReadHookFn hookConstant;      // 0: the host's own merge handler, returns 0
    PortReadHookFn hookRead;          // 4
    PortWriteHookFn hookWrite;        // 8
};

// Interval-timer channel 2, whose count sets the line speed.
struct Timer2Channel {
    void* unused0[8];                 // 0..28
    Timer2Notification countChanged;  // 32: empty, or the one listener
};

struct Timer2Record {
    void* unused0[2];                 // 0, 4
    Timer2Channel* channel;           // 8
};

// Passed to DeviceConect.
struct HostDevices {
    void* unused0[97];                // 0..384
    PortHookTable* portHooks;         // 388
    void* unused392[59];              // 392..624
    Timer2Record* timer2;             // 628
};

static_assert(offsetof(MachineInfo, systemClock) == hostOffset(32), "MachineInfo.systemClock");
static_assert(offsetof(IrqController, raiseIrq) == hostOffset(8), "IrqController.raiseIrq");
static_assert(offsetof(HostServices, machine) == hostOffset(4), "HostServices.machine");
static_assert(offsetof(HostServices, registerPortWrite) == hostOffset(16), "HostServices.registerPortWrite");
static_assert(offsetof(HostServices, registerPortRead) == hostOffset(28), "HostServices.registerPortRead");
static_assert(offsetof(HostServices, registerReset) == hostOffset(48), "HostServices.registerReset");
static_assert(offsetof(HostServices, registerSave) == hostOffset(56), "HostServices.registerSave");
static_assert(offsetof(HostServices, registerLoad) == hostOffset(60), "HostServices.registerLoad");
static_assert(offsetof(HostServices, registerPowerOff) == hostOffset(64), "HostServices.registerPowerOff");
static_assert(offsetof(HostServices, timerService) == hostOffset(72), "HostServices.timerService");
static_assert(offsetof(HostServices, irqController) == hostOffset(136), "HostServices.irqController");
static_assert(offsetof(PortHookTable, hookConstant) == hostOffset(0), "PortHookTable.hookConstant");
static_assert(offsetof(PortHookTable, hookRead) == hostOffset(4), "PortHookTable.hookRead");
static_assert(offsetof(PortHookTable, hookWrite) == hostOffset(8), "PortHookTable.hookWrite");
static_assert(offsetof(Timer2Channel, countChanged) == hostOffset(32), "Timer2Channel.countChanged");
static_assert(offsetof(Timer2Record, channel) == hostOffset(8), "Timer2Record.channel");
static_assert(offsetof(HostDevices, portHooks) == hostOffset(388), "HostDevices.portHooks");
static_assert(offsetof(HostDevices, timer2) == hostOffset(628), "HostDevices.timer2");
#if defined(_WIN32) && !defined(_WIN64)
// The product: the host's own 32-bit offsets, literally.
static_assert(offsetof(MachineInfo, systemClock) == 32, "32-bit host layout");
static_assert(offsetof(IrqController, raiseIrq) == 8, "32-bit host layout");
static_assert(offsetof(HostServices, machine) == 4, "32-bit host layout");
static_assert(offsetof(HostServices, registerPortWrite) == 16, "32-bit host layout");
static_assert(offsetof(HostServices, registerPortRead) == 28, "32-bit host layout");
static_assert(offsetof(HostServices, registerReset) == 48, "32-bit host layout");
static_assert(offsetof(HostServices, registerSave) == 56, "32-bit host layout");
static_assert(offsetof(HostServices, registerLoad) == 60, "32-bit host layout");
static_assert(offsetof(HostServices, registerPowerOff) == 64, "32-bit host layout");
static_assert(offsetof(HostServices, timerService) == 72, "32-bit host layout");
static_assert(offsetof(HostServices, irqController) == 136, "32-bit host layout");
static_assert(offsetof(PortHookTable, hookRead) == 4 && offsetof(PortHookTable, hookWrite) == 8, "32-bit host layout");
static_assert(offsetof(Timer2Channel, countChanged) == 32, "32-bit host layout");
static_assert(offsetof(Timer2Record, channel) == 8, "32-bit host layout");
static_assert(offsetof(HostDevices, portHooks) == 388, "32-bit host layout");
static_assert(offsetof(HostDevices, timer2) == 628, "32-bit host layout");
#endif
