#include "ui/ConfigDialog.h"

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

// What the dialog works on, handed to its procedure at creation.
struct DialogSession {
    PrivateProfile* profile;
    const char* settingsPath;
    Rs232cDevice* device;
    ConfigChoices choices;
};

void openDialog(HWND dialog, DialogSession& session)
{
    ConfigChoices& choices = session.choices;
    choices = openingChoices(*session.profile, session.settingsPath);
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

void confirmDialog(HWND dialog, DialogSession& session)
{
    ConfigChoices& choices = session.choices;
    choices.port = selectedItem(dialog, IDC_PORT);
    choices.locked = IsDlgButtonChecked(dialog, IDC_LOCK) == BST_CHECKED;
    choices.rate = selectedItem(dialog, IDC_BAUDRATE);
    choices.parity = selectedItem(dialog, IDC_PARITY);
    choices.stopBits = selectedItem(dialog, IDC_STOPBITS);
    choices.byteSize = selectedItem(dialog, IDC_BYTESIZE);
    const LineSettings settings = confirmChoices(*session.profile, session.settingsPath, choices);
    // The guest's next mode byte applies them to the port.
    session.device->storeSettings(settings, false);
}

INT_PTR CALLBACK configProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* session = reinterpret_cast<DialogSession*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        openDialog(dialog, *reinterpret_cast<DialogSession*>(lParam));
        return TRUE;  // the focus goes to the port list
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (session) confirmDialog(dialog, *session);
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

std::intptr_t runConfigDialog(HINSTANCE resources, HWND owner, PrivateProfile& profile, const char* settingsPath,
                              Rs232cDevice& device)
{
    DialogSession session{&profile, settingsPath, &device, ConfigChoices{}};
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_CONFIG), owner, configProcedure,
                           reinterpret_cast<LPARAM>(&session));
}
