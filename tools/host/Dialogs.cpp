#include "tools/host/Dialogs.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>

#include "tools/host/Console.h"
#include "tools/host/EmulatorWindow.h"

namespace {
constexpr int kPortList = 1000;
constexpr int kLockBox = 1023;
constexpr int kMessageText = 0xFFFF;  // the static that holds a message box's text

bool isDialogOfOurs(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return false;
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    return lstrcmpA(className, "#32770") == 0;
}

struct Search {
    bool wantConfig;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<Search*>(context);
    if (!isDialogOfOurs(window)) return TRUE;
    bool config = GetDlgItem(window, kPortList) != nullptr;
    bool message = GetDlgItem(window, kMessageText) != nullptr;
    if (search.wantConfig ? config : (message && !config)) search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> findDialogs(bool config)
{
    Search search{config, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- Message boxes ----------------------------------------------------------

volatile LONG watching = 0;
HANDLE watcher = nullptr;

DWORD WINAPI watchAlerts(void*)
{
    std::set<HWND> answered;
    while (watching) {
        for (HWND box : findDialogs(false)) {
            if (answered.count(box)) continue;
            char caption[256] = "";
            char text[1024] = "";
            GetWindowTextA(box, caption, sizeof caption);
            int length = GetDlgItemTextA(box, kMessageText, text, sizeof text);
            const std::string shown(text, static_cast<std::size_t>(length > 0 ? length : 0));
            sayWithText("alert caption=" +
                            hexOf(reinterpret_cast<const std::uint8_t*>(caption), std::strlen(caption)) +
                            " text=" + hexOf(reinterpret_cast<const std::uint8_t*>(shown.data()), shown.size()),
                        shown);
            answered.insert(box);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        }
        for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        Sleep(20);
    }
    return 0;
}

// ---- The configuration dialog ----------------------------------------------

std::string itemText(HWND list, LRESULT index)
{
    LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return "";
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void dumpConfig(HWND dialog)
{
    char caption[128] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    say("dialog caption=%s", caption);
    const int lists[] = {kPortList, 1022, 1024, 1026, 1025};
    for (int id : lists) {
        HWND list = GetDlgItem(dialog, id);
        if (!list) {
            say("list id=%d missing", id);
            continue;
        }
        LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
        LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
        std::string items;
        for (LRESULT i = 0; i < count; ++i) {
            if (i) items += ',';
            items += itemText(list, i) + ":" +
                     std::to_string(static_cast<long long>(SendMessageA(list, CB_GETITEMDATA, i, 0)));
        }
        say("list id=%d enabled=%d index=%ld selected=%s items=%s", id, IsWindowEnabled(list) ? 1 : 0,
            static_cast<long>(selected), selected == CB_ERR ? "" : itemText(list, selected).c_str(), items.c_str());
    }
    HWND box = GetDlgItem(dialog, kLockBox);
    say("check id=%d checked=%d", kLockBox, box && SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
}

bool select(HWND dialog, int id, const std::string& text)
{
    HWND list = GetDlgItem(dialog, id);
    LRESULT index = list ? SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(text.c_str()))
                         : CB_ERR;
    if (index == CB_ERR) {
        say("error list %d has no item %s", id, text.c_str());
        return false;
    }
    SendMessageA(list, CB_SETCURSEL, index, 0);
    return true;
}

bool click(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (!button) {
        say("error no control %d", id);
        return false;
    }
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}

void pressEscape(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : dialog;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

HWND waitForConfigDialog(DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 20) {
        std::vector<HWND> found = findDialogs(true);
        if (!found.empty()) return found.front();
        std::intptr_t result;
        if (emulatorWindow().waitConfig(0, result)) {
            say("config result=%ld", static_cast<long>(result));
            return nullptr;
        }
        Sleep(20);
    }
    return nullptr;
}

// ---- The status panel ------------------------------------------------------

// "lit" or "dark" when every pixel is the lit or dark LED red, otherwise the
// first pixel's colour.
std::string ledState(HBITMAP bitmap)
{
    if (!bitmap) return "none";
    BITMAP info{};
    if (!GetObjectA(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return "invalid";
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = -info.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, bitmap, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != info.bmHeight) return "unreadable";
    bool allLit = true, allDark = true;
    for (std::uint32_t pixel : pixels) {
        std::uint32_t rgb = pixel & 0xFFFFFF;  // 0x00RRGGBB
        allLit = allLit && rgb == 0xFF0000;
        allDark = allDark && rgb == 0x800000;
    }
    char text[64];
    if (allLit || allDark)
        std::snprintf(text, sizeof text, "%s(%ldx%ld)", allLit ? "lit" : "dark", info.bmWidth, info.bmHeight);
    else
        std::snprintf(text, sizeof text, "rgb%06X(%ldx%ld)", pixels[0] & 0xFFFFFF, info.bmWidth, info.bmHeight);
    return text;
}
}  // namespace

void startAlertWatcher()
{
    watching = 1;
    watcher = CreateThread(nullptr, 0, watchAlerts, nullptr, 0, nullptr);
}

void stopAlertWatcher()
{
    if (!watcher) return;
    InterlockedExchange(&watching, 0);
    WaitForSingleObject(watcher, 5000);
    CloseHandle(watcher);
    watcher = nullptr;
}

bool driveConfigDialog(const std::vector<std::string>& actions)
{
    emulatorWindow().openConfig();
    HWND dialog = waitForConfigDialog(10000);
    if (!dialog) {
        say("error no configuration dialog appeared");
        return false;
    }
    say("config open");
    bool ok = true;
    for (std::size_t i = 0; i < actions.size() && ok; ++i) {
        const std::string& action = actions[i];
        auto argument = [&]() -> std::string { return i + 1 < actions.size() ? actions[++i] : std::string(); };
        if (action == "dump") {
            dumpConfig(dialog);
        } else if (action == "select") {
            int id = std::atoi(argument().c_str());
            ok = select(dialog, id, argument());
        } else if (action == "click") {
            ok = click(dialog, std::atoi(argument().c_str()));
        } else if (action == "wait") {
            Sleep(static_cast<DWORD>(std::atoi(argument().c_str())));
        } else if (action == "ok") {
            ok = click(dialog, IDOK);
        } else if (action == "cancel") {
            ok = click(dialog, IDCANCEL);
        } else if (action == "escape") {
            pressEscape(dialog);
        } else {
            say("error unknown dialog action %s", action.c_str());
            ok = false;
        }
    }
    std::intptr_t result = 0;
    if (!emulatorWindow().waitConfig(ok ? 30000 : 0, result)) {
        say("error the dialog is still open; cancelling it");
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        emulatorWindow().waitConfig(5000, result);
        return false;
    }
    say("config result=%ld", static_cast<long>(result));
    return ok;
}

bool dumpPanel()
{
    EmulatorWindow& host = emulatorWindow();
    host.sync();
    HWND tabs = host.tabs();
    LRESULT count = SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0);
    std::string names;
    for (LRESULT i = 0; i < count; ++i) {
        char text[32] = "";
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        if (i) names += ',';
        names += text;
    }
    say("tabs %s", names.c_str());
    for (const std::string& insertion : host.tabInsertions()) say("tab inserted %s", insertion.c_str());
    HWND panel = host.panel();
    if (!panel) {
        say("error no panel");
        return false;
    }
    struct Led {
        const char* name;
        int id;
    };
    const Led leds[] = {{"CS", 1004}, {"CI", 1009}, {"CD", 1010}, {"DSR", 1005}};
    std::string line = "leds";
    for (const Led& led : leds) {
        HWND control = GetDlgItem(panel, led.id);
        auto bitmap = control ? reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0))
                              : nullptr;
        line += std::string(" ") + led.name + "=" + (control ? ledState(bitmap) : std::string("missing"));
    }
    say("%s", line.c_str());
    const int fields[] = {1013, 1011, 1014, 1007, 1008};
    line = "fields";
    for (int id : fields) {
        char text[64] = "";
        GetDlgItemTextA(panel, id, text, sizeof text);
        line += " " + std::to_string(id) + "=" + text;
    }
    say("%s", line.c_str());
    return true;
}
