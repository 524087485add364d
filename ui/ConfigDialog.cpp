// The configuration dialog: port, lock, rate, parity, stop bits, byte size.
#include <windows.h>

#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "plugin/Win32Module.h"
#include "ui/Settings.h"
#include "ui/resources/ResourceIds.h"

namespace {
// The four lists that only count while the settings are locked.
constexpr int kLockedLists[] = {IDC_BAUDRATE, IDC_PARITY, IDC_STOPBITS, IDC_BYTESIZE};

template <std::size_t N>
void fillList(HWND dialog, int listId, const ChoiceItem (&items)[N], int selected)
{
    HWND list = GetDlgItem(dialog, listId);
    for (const ChoiceItem& item : items) {
        const LRESULT index = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text));
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index), item.data);
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int selectedItem(HWND dialog, int listId)
{
    const LRESULT index = SendDlgItemMessageA(dialog, listId, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? 0 : static_cast<int>(index);
}

void enableLockedLists(HWND dialog)
{
    const BOOL locked = IsDlgButtonChecked(dialog, IDC_LOCK) == BST_CHECKED;
    for (int listId : kLockedLists) EnableWindow(GetDlgItem(dialog, listId), locked);
}

void openDialog(HWND dialog, ConfigChoices& choices)
{
    PluginModule& module = plugin();
    choices = openingChoices(*module.profile, module.settingsPath);
    fillList(dialog, IDC_BAUDRATE, kRateItems, choices.rate);
    fillList(dialog, IDC_PARITY, kParityItems, choices.parity);
    fillList(dialog, IDC_STOPBITS, kStopBitsItems, choices.stopBits);
    fillList(dialog, IDC_BYTESIZE, kByteSizeItems, choices.byteSize);
    CheckDlgButton(dialog, IDC_LOCK, choices.locked ? BST_CHECKED : BST_UNCHECKED);
    enableLockedLists(dialog);
    // The port list ends with the file's own port when it is none of the ten.
    fillList(dialog, IDC_PORT, kPortItems, choices.port);
    if (choices.hasOtherPort) {
        SendDlgItemMessageA(dialog, IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choices.otherPort));
        SendDlgItemMessageA(dialog, IDC_PORT, CB_SETCURSEL, kPortItemCount, 0);
    }
}

void confirmDialog(HWND dialog, ConfigChoices& choices)
{
    choices.port = selectedItem(dialog, IDC_PORT);
    choices.locked = IsDlgButtonChecked(dialog, IDC_LOCK) == BST_CHECKED;
    choices.rate = selectedItem(dialog, IDC_BAUDRATE);
    choices.parity = selectedItem(dialog, IDC_PARITY);
    choices.stopBits = selectedItem(dialog, IDC_STOPBITS);
    choices.byteSize = selectedItem(dialog, IDC_BYTESIZE);
    PluginModule& module = plugin();
    const LineSettings settings = confirmChoices(*module.profile, module.settingsPath, choices);
    // The guest's next mode byte applies them to the port.
    module.device.storeSettings(settings, false);
}

INT_PTR CALLBACK configProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* choices = reinterpret_cast<ConfigChoices*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        openDialog(dialog, *reinterpret_cast<ConfigChoices*>(lParam));
        return TRUE;  // the focus goes to the port list
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (choices) confirmDialog(dialog, *choices);
            EndDialog(dialog, 1);
            break;
        case IDCANCEL: EndDialog(dialog, 1); break;
        case IDC_LOCK: enableLockedLists(dialog); break;
        default: break;
        }
        return TRUE;
    default: return FALSE;
    }
}
}  // namespace

RS232C_EXPORT std::intptr_t HOSTCALL DeviceConfig(HostWindow owner)
{
    // Without a settings file there is nothing to edit: the platform's own
    // choice of file would be some other program's.
    if (plugin().settingsPath[0] == '\0') return -1;
    ConfigChoices choices{};
    return DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_CONFIG), static_cast<HWND>(owner), configProcedure,
                           reinterpret_cast<LPARAM>(&choices));
}
