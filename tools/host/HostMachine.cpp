#include "tools/host/HostMachine.h"

#include <cstdio>

#include "tools/host/Console.h"
#include "tools/host/HostTimer.h"

HostMachine& hostMachine()
{
    static HostMachine machine;
    return machine;
}

std::string absolutePath(const std::string& path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full) : path;
}

namespace {
std::string portName(const char* what, std::uint16_t port)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s %02X", what, port);
    return text;
}

// ---- The functions the host lends the plug-in ----------------------------

void HOSTCALL registerPortWrite(std::uint16_t port, PortWriteHandler handler)
{
    hostMachine().writeHandlers[port & 0xFF] = handler;
    hostMachine().noteRegistration(portName("write", port));
}

void HOSTCALL registerPortRead(std::uint16_t port, PortReadHandler handler)
{
    hostMachine().readHandlers[port & 0xFF] = handler;
    hostMachine().noteRegistration(portName("read", port));
}

void HOSTCALL registerReset(ResetHandler handler)
{
    hostMachine().resetHandler = handler;
    hostMachine().noteRegistration("reset");
}

void HOSTCALL registerSave(std::uint32_t size, SaveHandler handler)
{
    hostMachine().saveHandler = handler;
    hostMachine().saveSize = size;
    hostMachine().noteRegistration("save " + std::to_string(size));
}

void HOSTCALL registerLoad(LoadHandler handler)
{
    hostMachine().loadHandler = handler;
    hostMachine().noteRegistration("load");
}

void HOSTCALL registerPowerOff(PowerOffHandler handler)
{
    hostMachine().powerOffHandler = handler;
    hostMachine().noteRegistration("poweroff");
}

std::uint8_t HOSTCALL timerService(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                   TickCallback callback)
{
    return hostTimer().serve(slot, operation, value, callback);
}

void HOSTCALL raiseIrq(std::int32_t line) { hostMachine().noteInterrupt(line); }

// The system port's own merge handler is the host's business; the
// registration is all we note.
std::int32_t HOSTCALL hookConstant(std::uint16_t port, PortReadHandler handler)
{
    if (!handler) return 0;
    hostMachine().noteRegistration(portName("hook-constant", port));
    return 1;
}

std::int32_t HOSTCALL hookRead(std::uint16_t port, PortReadHandler handler)
{
    if (!handler) return 0;
    hostMachine().hookReads[port & 0xFF] = handler;
    hostMachine().noteRegistration(portName("hook-read", port));
    return 1;
}

std::int32_t HOSTCALL hookWrite(std::uint16_t port, PortWriteHandler handler)
{
    if (!handler) return 0;
    hostMachine().hookWrites[port & 0xFF] = handler;
    hostMachine().noteRegistration(portName("hook-write", port));
    return 1;
}

template <typename Fn>
bool lookUp(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!fn) say("error export %s missing", name);
    return fn != nullptr;
}
}  // namespace

bool HostMachine::loadPlugin(const char* path)
{
    module_ = LoadLibraryA(path);
    if (!module_) {
        say("error cannot load %s (error %lu)", path, GetLastError());
        return false;
    }
    bool all = lookUp(module_, "SetPath", exports_.setPath);
    all = lookUp(module_, "DeviceEntry", exports_.deviceEntry) && all;
    all = lookUp(module_, "DeviceConect", exports_.deviceConect) && all;
    all = lookUp(module_, "DeviceVer", exports_.deviceVer) && all;
    all = lookUp(module_, "FastGUI", exports_.fastGui) && all;
    all = lookUp(module_, "DeviceConfig", exports_.deviceConfig) && all;
    interruptEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return all;
}

std::int32_t HostMachine::enter(std::uint32_t systemClock)
{
    machine_.systemClock = systemClock;
    irq_.raiseIrq = raiseIrq;
    services_.machine = &machine_;
    services_.registerPortWrite = registerPortWrite;
    services_.registerPortRead = registerPortRead;
    services_.registerReset = registerReset;
    services_.registerSave = registerSave;
    services_.registerLoad = registerLoad;
    services_.registerPowerOff = registerPowerOff;
    services_.timerService = timerService;
    services_.irqController = &irq_;
    return exports_.deviceEntry(&services_);
}

std::int32_t HostMachine::connect()
{
    hooks_.hookConstant = hookConstant;
    hooks_.hookRead = hookRead;
    hooks_.hookWrite = hookWrite;
    timer2Record_.channel = &timer2Channel_;
    devices_.portHooks = &hooks_;
    devices_.timer2 = &timer2Record_;
    std::int32_t result = exports_.deviceConect(&devices_);
    if (timer2Channel_.countChanged) noteRegistration("timer2");
    return result;
}

void HostMachine::noteInterrupt(std::int32_t line)
{
    InterlockedIncrement(&interrupts_);
    lastLine_ = line;
    if (signalInterrupts_) SetEvent(interruptEvent_);
}

bool HostMachine::readPort(std::uint16_t port, std::uint8_t& value)
{
    std::uint8_t index = port & 0xFF;
    if (readHandlers[index]) {
        value = readHandlers[index]();
        return true;
    }
    if (hookReads[index]) {
        value = hookReads[index]();
        return true;
    }
    return false;
}

bool HostMachine::writePort(std::uint16_t port, std::uint8_t value)
{
    std::uint8_t index = port & 0xFF;
    if (writeHandlers[index]) {
        writeHandlers[index](value);
        return true;
    }
    if (hookWrites[index]) {
        hookWrites[index](value);
        return true;
    }
    return false;
}

bool HostMachine::machineReset()
{
    if (!resetHandler) return false;
    resetHandler();
    return true;
}

bool HostMachine::powerOff()
{
    if (!powerOffHandler) return false;
    powerOffHandler();
    return true;
}

bool HostMachine::save(std::uint8_t* block, std::uint32_t& size)
{
    if (!saveHandler) return false;
    size = saveSize;
    saveHandler(block);
    return true;
}

bool HostMachine::load(std::uint8_t* block, std::uint8_t& result)
{
    if (!loadHandler) return false;
    result = loadHandler(block);
    return true;
}

bool HostMachine::timer2Changed(std::int32_t count)
{
    if (!timer2Channel_.countChanged) return false;
    timer2Channel_.countChanged(count);
    return true;
}
