#include "tools/host/EmulatorWindow.h"

#include <commctrl.h>

#include <cstdio>

#include "tools/host/Console.h"

namespace {
constexpr UINT kSyncMessage = WM_APP + 1;    // lParam: event to set
constexpr UINT kConfigMessage = WM_APP + 2;  // run the configuration dialog
constexpr char kWindowClass[] = "RS232CHostSimulator";
}  // namespace

EmulatorWindow& emulatorWindow()
{
    static EmulatorWindow window;
    return window;
}

bool EmulatorWindow::start(const PluginExports& plugin)
{
    plugin_ = &plugin;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    configDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
    HANDLE waits[] = {ready_, thread_};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return window_ != nullptr;
}

void EmulatorWindow::close()
{
    if (!thread_) return;
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI EmulatorWindow::threadMain(void* self)
{
    static_cast<EmulatorWindow*>(self)->run();
    return 0;
}

void EmulatorWindow::run()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);

    window_ = CreateWindowExA(0, kWindowClass, "PC emulator (host simulator)",
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, 20, 20,
                              480, 360, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window_) {
        say("error cannot create the host window (error %lu)", GetLastError());
        SetEvent(ready_);
        return;
    }
    tabs_ = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 4, 4, 460, 320, window_,
                            nullptr, windowClass.hInstance, nullptr);
    SendMessageA(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>("System");
    SendMessageA(tabs_, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));

    // Watch what the plug-in asks of the tab control while it adds its page.
    tabsProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tabs_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watchTabs)));
    panel_ = static_cast<HWND>(plugin_->fastGui(tabs_, 0));
    SetWindowLongPtrA(tabs_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(tabsProcedure_));
    say("fastgui panel=%s", panel_ ? "created" : "none");
    SendMessageA(tabs_, TCM_SETCURSEL, 0, 0);
    layOut();
    showSelectedPage();
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    SetEvent(ready_);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK EmulatorWindow::watchTabs(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    EmulatorWindow& host = emulatorWindow();
    if (message == TCM_INSERTITEMA && lParam) {
        const TCITEMA& item = *reinterpret_cast<const TCITEMA*>(lParam);
        char text[160];
        std::snprintf(text, sizeof text, "position=%d mask=%u text=%.32s limit=%d image=%d", static_cast<int>(wParam),
                      item.mask, item.pszText ? item.pszText : "(none)", item.cchTextMax, item.iImage);
        host.tabInsertions_.push_back(text);
    }
    return CallWindowProcA(host.tabsProcedure_, window, message, wParam, lParam);
}

// Sizes the tab control and the window around the panel the plug-in made.
void EmulatorWindow::layOut()
{
    if (!panel_) return;
    RECT page;
    GetWindowRect(panel_, &page);
    MapWindowPoints(nullptr, tabs_, reinterpret_cast<POINT*>(&page), 2);
    int width = page.right + 12;
    int height = page.bottom + 12;
    SetWindowPos(tabs_, nullptr, 4, 4, width, height, SWP_NOZORDER);
    RECT frame{0, 0, width + 8, height + 8};
    AdjustWindowRect(&frame, GetWindowLongA(window_, GWL_STYLE), FALSE);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE);
}

void EmulatorWindow::showSelectedPage()
{
    if (!panel_) return;
    char text[16] = "";
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    LRESULT selected = SendMessageA(tabs_, TCM_GETCURSEL, 0, 0);
    SendMessageA(tabs_, TCM_GETITEMA, selected, reinterpret_cast<LPARAM>(&item));
    ShowWindow(panel_, lstrcmpA(text, "232C") == 0 ? SW_SHOW : SW_HIDE);
}

LRESULT CALLBACK EmulatorWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    EmulatorWindow& self = emulatorWindow();
    switch (message) {
    case kSyncMessage:
        SetEvent(reinterpret_cast<HANDLE>(lParam));
        return 0;
    case kConfigMessage:
        self.configResult_ = self.plugin_->deviceConfig(window);
        SetEvent(self.configDone_);
        return 0;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(TCN_SELCHANGE)) self.showSelectedPage();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void EmulatorWindow::sync()
{
    if (!window_) return;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (PostMessageA(window_, kSyncMessage, 0, reinterpret_cast<LPARAM>(done))) WaitForSingleObject(done, 10000);
    CloseHandle(done);
}

void EmulatorWindow::openConfig()
{
    ResetEvent(configDone_);
    PostMessageA(window_, kConfigMessage, 0, 0);
}

bool EmulatorWindow::waitConfig(DWORD milliseconds, std::intptr_t& result)
{
    if (WaitForSingleObject(configDone_, milliseconds) != WAIT_OBJECT_0) return false;
    result = configResult_;
    return true;
}
