// The four exports that need no window: naming the settings file, taking the
// host's services, hooking the system port and Timer2, and the version text.
#include <cstring>

#include "device/Messages.h"
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "ui/resources/Version.h"

namespace {
constexpr char kVersionText[] = RS232C_PRODUCT_NAME " Ver" RS232C_VERSION_TEXT;
static_assert(sizeof kVersionText == 26, "the host reads a 25-character version text");

constexpr std::uint32_t kSaveBlockSize = kSnapshotSize;
}  // namespace

RS232C_EXPORT void HOSTCALL SetPath(const char* path)
{
    PluginModule& module = plugin();
    // A path that does not fit names no file we could use: the settings are
    // then those of a missing file, and the dialog stays closed.
    const bool usable = storeSettingsPath(module.settingsPath, path);
    const LineSettings settings = usable ? readSettings(*module.profile, module.settingsPath) : defaultSettings();
    module.device.storeSettings(settings, true);
}

RS232C_EXPORT std::int32_t HOSTCALL DeviceEntry(HostServices* services)
{
    PluginModule& module = plugin();
    Rs232cDevice& device = module.device;
    // The adapters take the host's services before the device is given them,
    // so that no call of the device ever finds one half lent.
    module.interruptLine.lend(services->irqController->raiseIrq);
    module.hostTimer.lend(services->timerService);
    device.lendHost(HostLinks{&module.hostTimer, &module.interruptLine});
    if (!device.acquireTimer()) {
        if (module.alert) module.alert->show(kTimerAcquireFailed);
        return 0;
    }
    device.setSystemClock(services->machine->systemClock);

    services->registerReset(&host_handlers::reset);
    services->registerPortWrite(0x30, &host_handlers::writeData);
    services->registerPortWrite(0x32, &host_handlers::writeModeCommand);
    services->registerPortRead(0x30, &host_handlers::readData);
    services->registerPortRead(0x32, &host_handlers::readStatus);
    services->registerSave(kSaveBlockSize, &host_handlers::save);
    services->registerLoad(&host_handlers::load);
    services->registerPowerOff(&host_handlers::powerOff);
    return 1;
}

RS232C_EXPORT std::int32_t HOSTCALL DeviceConect(HostDevices* devices)
{
    Timer2Record* timer2 = devices->timer2;
    if (!timer2) return 0;
    // Only one listener fits the slot; one that is already there keeps it.
    if (Timer2Channel* channel = timer2->channel; channel && !channel->countChanged)
        channel->countChanged = &host_handlers::timer2Changed;

    const PortHookTable* hooks = devices->portHooks;
    if (!hooks) return 0;
    return hooks->hookConstant(0x33, &host_handlers::systemPortZero) &&
                   hooks->hookConstant(0x35, &host_handlers::systemPortZero) &&
                   hooks->hookConstant(0x37, &host_handlers::systemPortZero) &&
                   hooks->hookRead(0x33, &host_handlers::readPortB) &&
                   hooks->hookRead(0x35, &host_handlers::readPortC) &&
                   hooks->hookWrite(0x35, &host_handlers::writePortC) &&
                   hooks->hookWrite(0x37, &host_handlers::setResetPortC)
               ? 1
               : 0;
}

RS232C_EXPORT std::int32_t HOSTCALL DeviceVer(char* buffer)
{
    std::memcpy(buffer, kVersionText, sizeof kVersionText);
    return static_cast<std::int32_t>(sizeof kVersionText - 1);
}
