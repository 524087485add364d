// The emulated machine as the plug-in sees it: the records handed to
// DeviceEntry and DeviceConect, the handlers and hooks it registers there,
// interrupt line 4, and the system clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/Exports.h"

struct PluginExports {
    decltype(&SetPath) setPath;
    decltype(&DeviceEntry) deviceEntry;
    decltype(&DeviceConect) deviceConect;
    decltype(&DeviceVer) deviceVer;
    decltype(&FastGUI) fastGui;
    decltype(&DeviceConfig) deviceConfig;
};

class HostMachine {
public:
    // Loads the module and looks up its six exports by name; reports what is missing.
    bool loadPlugin(const char* path);
    HMODULE module() const { return module_; }
    const PluginExports& plugin() const { return exports_; }

    // DeviceEntry and DeviceConect with freshly filled records.
    std::int32_t enter(std::uint32_t systemClock);
    std::int32_t connect();

    // Guest port accesses, routed to the handler or hook registered for the port.
    bool readPort(std::uint16_t port, std::uint8_t& value);
    bool writePort(std::uint16_t port, std::uint8_t value);

    bool machineReset();
    bool powerOff();
    bool save(std::uint8_t* block, std::uint32_t& size);
    bool load(std::uint8_t* block, std::uint8_t& result);
    // The guest reprograms interval-timer channel 2; false when nobody listens.
    bool timer2Changed(std::int32_t count);

    // Interrupt requests: how many, and the line of the last one.
    std::uint32_t interruptCount() const { return interrupts_; }
    std::int32_t lastInterruptLine() const { return lastLine_; }
    void clearInterrupts() { interrupts_ = 0; }
    // Set at each interrupt request, for a guest on a thread of its own to wait on.
    HANDLE interruptEvent() const { return interruptEvent_; }
    void signalInterrupts(bool signal) { signalInterrupts_ = signal; }

    // What the plug-in registered, in the order it did.
    const std::vector<std::string>& registrations() const { return registrations_; }

    // Called by the host functions the plug-in receives.
    void noteRegistration(const std::string& what) { registrations_.push_back(what); }
    void noteInterrupt(std::int32_t line);

    PortWriteHandler writeHandlers[256] = {};
    PortReadHandler readHandlers[256] = {};
    PortReadHandler hookReads[256] = {};
    PortWriteHandler hookWrites[256] = {};
    ResetHandler resetHandler = nullptr;
    PowerOffHandler powerOffHandler = nullptr;
    SaveHandler saveHandler = nullptr;
    LoadHandler loadHandler = nullptr;
    std::uint32_t saveSize = 0;

private:
    HMODULE module_ = nullptr;
    PluginExports exports_{};

    MachineInfo machine_{};
    IrqController irq_{};
    HostServices services_{};
    PortHookTable hooks_{};
    Timer2Channel timer2Channel_{};
    Timer2Record timer2Record_{};
    HostDevices devices_{};

    volatile LONG interrupts_ = 0;
    std::int32_t lastLine_ = -1;
    HANDLE interruptEvent_ = nullptr;
    bool signalInterrupts_ = true;
    std::vector<std::string> registrations_;
};

HostMachine& hostMachine();

// The private-profile functions take a bare name as a file in the Windows
// folder, so a settings path handed to the plug-in is made absolute.
std::string absolutePath(const std::string& path);
