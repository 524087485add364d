#include "plugin/PluginModule.h"

namespace {
// Never destroyed: at unload the line stays open, as the host expects, and
// no destructor runs while the loader holds its lock.
PluginModule& module = *new PluginModule();

// The host's timer callback carries no context, so the device it ticks is
// found here: the module's one device while the module is loaded.
Rs232cDevice* tickTarget = nullptr;

void HOSTCALL tickCallback()
{
    if (tickTarget) tickTarget->tick();
}
}  // namespace

PluginModule& plugin() { return module; }

void loadPlugin(const Platform& platform, PanelControl* panel, PrivateProfile* profile)
{
    module.device.construct(platform);
    module.hostTimer.reset(&tickCallback);
    module.interruptLine.lend(nullptr);
    module.alert = platform.alert;
    module.panel = panel;
    module.profile = profile;
    module.settingsPath[0] = '\0';
    tickTarget = &module.device;
}

void unloadPlugin()
{
    tickTarget = nullptr;
    module.device.destroy();
}

namespace host_handlers {
void HOSTCALL writeData(std::uint8_t value) { module.device.writeData(value); }
void HOSTCALL writeModeCommand(std::uint8_t value) { module.device.writeModeCommand(value); }
std::uint8_t HOSTCALL readData() { return module.device.readData(); }
std::uint8_t HOSTCALL readStatus() { return module.device.readStatus(); }

std::uint8_t HOSTCALL reset()
{
    if (module.panel) module.panel->startTimer();
    module.device.reset();
    return 0;
}

std::uint32_t HOSTCALL powerOff()
{
    if (module.panel) module.panel->stopTimer();
    module.device.powerOff();
    // The panel's thread may be waiting for the device's locks in its refresh:
    // darkening waits for that thread, so it comes after every lock is gone.
    if (module.panel) module.panel->darkenLeds();
    return 0;
}

void HOSTCALL save(std::uint8_t* block) { module.device.saveSnapshot(block); }
std::uint8_t HOSTCALL load(std::uint8_t* block) { return module.device.loadSnapshot(block) == 1 ? 1 : 0; }

// The host merges what each plug-in's system-port hooks return; this one adds nothing.
std::uint8_t HOSTCALL systemPortZero() { return 0; }
std::uint8_t HOSTCALL readPortB() { return module.device.readPortB(); }
std::uint8_t HOSTCALL readPortC() { return module.device.readPortC(); }
void HOSTCALL writePortC(std::uint8_t value) { module.device.writePortC(value); }
void HOSTCALL setResetPortC(std::uint8_t value) { module.device.setResetPortC(value); }
void HOSTCALL timer2Changed(std::int32_t count) { module.device.timer2Changed(count); }
}  // namespace host_handlers
