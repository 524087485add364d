// Module load and unload: the one device, wired to the kinds of line a user
// can name, message boxes, the status panel and the settings file.
#include <windows.h>

#include "platform/lines/LineKinds.h"
#include "platform/monitor/MonitoredCatalog.h"
#include "platform/win32/PerformanceCounterClock.h"
#include "platform/win32/Win32CommApi.h"
#include "platform/win32/Win32MonitorPlatform.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinsockNetwork.h"
#include "plugin/PluginModule.h"
#include "plugin/SettingsDialup.h"
#include "plugin/SettingsMonitor.h"
#include "plugin/SettingsPhonebook.h"
#include "plugin/Win32Module.h"
#include "ui/StatusPanel.h"
#include "ui/Win32Profile.h"
#include "ui/resources/Version.h"

namespace {
HINSTANCE instance = nullptr;
Win32CommApi commApi;
WinsockNetwork network;
PerformanceCounterClock monotonicClock;
Win32Profile settingsFile;
// The phonebook of the settings file the host has named. The module it finds
// the name in is made during loading, after these objects, so it is looked
// up at each dial rather than here.
class ModulePhonebook final : public Phonebook {
public:
    std::optional<std::string> lookup(const std::string& number) override
    {
        return SettingsPhonebook(settingsFile, plugin().settingsPath).lookup(number);
    }
} phonebook;
// The dial-up server's settings, read at each call to it, the same way.
class ModuleDialupSettings final : public dialup::DialupSettingsSource {
public:
    dialup::DialupSettings read() override { return SettingsDialup(settingsFile, plugin().settingsPath).read(); }
} dialupSettings;
LineKinds lineKinds(LineServices{commApi, network, monotonicClock, phonebook, dialupSettings,
                                 RS232C_PRODUCT_NAME " Ver" RS232C_VERSION_TEXT});
Win32UserAlert userAlert;
// The line monitor, when the settings name a log, wraps whichever line opens.
class ModuleMonitorSettings final : public MonitorSettingsSource {
public:
    MonitorSettings read() override { return SettingsMonitor(settingsFile, plugin().settingsPath).read(); }
} monitorSettings;
Win32MonitorPlatform monitorPlatform;
MonitoredCatalog monitoredLines(lineKinds, monitorSettings,
                                {&monitorPlatform, &monotonicClock, &userAlert,
                                 RS232C_PRODUCT_NAME " Ver" RS232C_VERSION_TEXT});
}  // namespace

HINSTANCE moduleInstance() { return instance; }

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        instance = module;
        loadPlugin(Platform{&monitoredLines, &userAlert, &panelFieldPoster()}, &statusPanel(), &settingsFile);
        loadLedBitmaps(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        unloadPlugin();
    }
    return TRUE;
}
