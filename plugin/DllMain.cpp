// Module load and unload: the one device, wired to the real port, message
// boxes, the status panel and the settings file.
#include <windows.h>

#include "platform/win32/LineSelector.h"
#include "platform/win32/Win32Platform.h"
#include "plugin/PluginModule.h"
#include "plugin/Win32Module.h"
#include "ui/StatusPanel.h"
#include "ui/Win32Profile.h"

namespace {
HINSTANCE instance = nullptr;
Win32SerialPorts comPorts;
LineSelector serialPorts(comPorts);  // network line names reach the network, others the COM port
Win32UserAlert userAlert;
Win32Profile settingsFile;
}  // namespace

HINSTANCE moduleInstance() { return instance; }

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        instance = module;
        loadPlugin(Platform{&serialPorts, &userAlert, &panelFieldPoster()}, &statusPanel(), &settingsFile);
        loadLedBitmaps(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        unloadPlugin();
    }
    return TRUE;
}
