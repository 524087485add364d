// The two exports that open windows: the status panel as a page of the host's
// tab control, and the configuration dialog.
#include <windows.h>

#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "plugin/Win32Module.h"
#include "ui/ConfigDialog.h"
#include "ui/StatusPanel.h"

RS232C_EXPORT HostWindow HOSTCALL FastGUI(HostWindow tabControl, std::int32_t position)
{
    return createStatusPanel(moduleInstance(), static_cast<HWND>(tabControl), position, plugin().device);
}

RS232C_EXPORT std::intptr_t HOSTCALL DeviceConfig(HostWindow owner)
{
    PluginModule& module = plugin();
    // Without a settings file there is nothing to edit: the platform's own
    // choice of file would be some other program's.
    if (module.settingsPath[0] == '\0') return -1;
    return runConfigDialog(moduleInstance(), static_cast<HWND>(owner), *module.profile, module.settingsPath,
                           module.device);
}
