// The module's one device and what the entry points reach it with. Loading
// the module fills this in before any export runs; the host's handlers and
// the exports all work on it.
#pragma once

#include "device/Rs232cDevice.h"
#include "plugin/HostAdapters.h"
#include "plugin/HostInterface.h"
#include "ui/PanelControl.h"
#include "ui/Profile.h"
#include "ui/Settings.h"

struct PluginModule {
    Rs232cDevice device;
    HostTimerService hostTimer;        // lent by DeviceEntry
    HostInterruptLine interruptLine;   // lent by DeviceEntry
    UserAlert* alert;                  // for DeviceEntry's own message
    PanelControl* panel;
    PrivateProfile* profile;
    char settingsPath[kSettingsPathSize];  // empty until SetPath names a usable file
};

PluginModule& plugin();

// Module load and unload. Unloading destroys the device's locks only: the
// line stays open and the host's timer is left as it is, its expiries from
// then on ticking nothing.
void loadPlugin(const Platform& platform, PanelControl* panel, PrivateProfile* profile);
void unloadPlugin();

// The registered handlers, in the host's calling convention.
namespace host_handlers {
void HOSTCALL writeData(std::uint8_t value);
void HOSTCALL writeModeCommand(std::uint8_t value);
std::uint8_t HOSTCALL readData();
std::uint8_t HOSTCALL readStatus();
std::uint8_t HOSTCALL reset();
std::uint32_t HOSTCALL powerOff();
void HOSTCALL save(std::uint8_t* block);
std::uint8_t HOSTCALL load(std::uint8_t* block);
std::uint8_t HOSTCALL systemPortZero();
std::uint8_t HOSTCALL readPortB();
std::uint8_t HOSTCALL readPortC();
void HOSTCALL writePortC(std::uint8_t value);
void HOSTCALL setResetPortC(std::uint8_t value);
void HOSTCALL timer2Changed(std::int32_t count);
}  // namespace host_handlers
