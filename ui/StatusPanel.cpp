#include "ui/StatusPanel.h"

#include <commctrl.h>

#include <atomic>

#include "ui/resources/ResourceIds.h"

namespace {
constexpr UINT_PTR kRefreshTimer = 10;
constexpr UINT kRefreshPeriodMs = 500;

HBITMAP darkLed = nullptr;
HBITMAP litLed = nullptr;
PanelFieldPoster fieldPoster;

// The live panel page, or none. Read from any thread; written on the panel's.
std::atomic<HWND> panelWindow{nullptr};

void showLed(HWND panel, int controlId, bool lit)
{
    // Posted, never sent: the refresh must not wait on anything.
    PostMessageA(GetDlgItem(panel, controlId), STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(lit ? litLed : darkLed));
}

// The device whose lines the panel shows, handed over at its creation.
Rs232cDevice* deviceOf(HWND panel) { return reinterpret_cast<Rs232cDevice*>(GetWindowLongPtrA(panel, DWLP_USER)); }

void refreshLeds(HWND panel)
{
    Rs232cDevice* shown = deviceOf(panel);
    if (!shown) return;
    Rs232cDevice& device = *shown;
    const std::uint8_t status = device.readStatus();
    const std::uint8_t portB = device.readPortB();
    showLed(panel, IDC_LED_CI, (portB & kPortBCiOff) == 0);
    showLed(panel, IDC_LED_CS, (portB & kPortBCsOff) == 0);
    showLed(panel, IDC_LED_CD, (portB & kPortBCdOff) == 0);
    showLed(panel, IDC_LED_DSR, (status & kStatusDsr) != 0);
}

void setRefresh(HWND panel, bool running)
{
    if (running)
        SetTimer(panel, kRefreshTimer, kRefreshPeriodMs, nullptr);
    else
        KillTimer(panel, kRefreshTimer);
}

// The page is going: the device and the module stop writing to it.
void forgetPanel(HWND panel)
{
    KillTimer(panel, kRefreshTimer);
    HWND expected = panel;
    panelWindow.compare_exchange_strong(expected, nullptr);
    Rs232cDevice* shown = deviceOf(panel);
    if (!shown) return;
    shown->clearPanel(panel);
}

INT_PTR CALLBACK panelProcedure(HWND panel, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: SetWindowLongPtrA(panel, DWLP_USER, lParam); break;
    case WM_TIMER: refreshLeds(panel); break;
    case kLedsOffMessage:
        showLed(panel, IDC_LED_CS, false);
        showLed(panel, IDC_LED_CI, false);
        showLed(panel, IDC_LED_CD, false);
        showLed(panel, IDC_LED_DSR, false);
        break;
    case kPanelFieldsMessage: fieldPoster.applyPending(panel); break;
    case kPanelTimerMessage: setRefresh(panel, wParam != 0); break;
    case WM_DESTROY: forgetPanel(panel); break;
    default: break;
    }
    return 0;  // the dialog manager does the rest
}

// Window timers belong to the panel's thread: from any other thread the
// request is posted to the panel, which sets or kills its own timer.
void requestRefresh(bool running)
{
    HWND panel = panelWindow.load();
    if (!panel) return;
    if (GetWindowThreadProcessId(panel, nullptr) == GetCurrentThreadId())
        setRefresh(panel, running);
    else
        PostMessageA(panel, kPanelTimerMessage, running ? 1 : 0, 0);
}

class Win32StatusPanel final : public PanelControl {
public:
    void startTimer() override { requestRefresh(true); }
    void stopTimer() override { requestRefresh(false); }
    void darkenLeds() override
    {
        if (HWND panel = panelWindow.load()) SendMessageA(panel, kLedsOffMessage, 0, 0);
    }
};

Win32StatusPanel panelControl;
}  // namespace

void loadLedBitmaps(HINSTANCE module)
{
    darkLed = static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(IDB_LED_DARK), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    litLed = static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(IDB_LED_LIT), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

PanelFieldPoster& panelFieldPoster() { return fieldPoster; }

PanelControl& statusPanel() { return panelControl; }

HWND createStatusPanel(HINSTANCE resources, HWND tabs, int position, Rs232cDevice& device)
{
    if (HWND existing = panelWindow.load(); existing && IsWindow(existing)) return existing;

    HWND panel = CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_PANEL), tabs, panelProcedure,
                                    reinterpret_cast<LPARAM>(&device));
    if (!panel) return nullptr;
    panelWindow.store(panel);
    device.setPanel(panel);

    char label[] = "232C";
    TCITEMA item = {};
    item.mask = TCIF_TEXT | TCIF_RTLREADING;  // 5, as the host's tab control expects
    item.pszText = label;
    item.cchTextMax = 4;
    item.iImage = -1;
    SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
    return panel;
}
