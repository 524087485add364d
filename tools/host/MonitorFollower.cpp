#include "tools/host/MonitorFollower.h"

#include <windows.h>

#include "tools/host/Console.h"

namespace {
constexpr DWORD kPollMs = 50;
// The plug-in's writer runs every 25 ms; this lets its last pass land.
constexpr DWORD kSettleMs = 150;

std::string path;
std::string addedTo;      // the settings file hostsim gave MONITOR, taken out again at the end
std::string partial;      // a line not yet ended
unsigned long long offset = 0;
HANDLE thread = nullptr;
volatile LONG following = 0;

// Reads `file` from `from` to its end; false when it cannot be opened.
bool readFrom(const std::string& file, unsigned long long from, std::string& out, unsigned long long& size)
{
    // Shared for everything: the plug-in writes it and renames it to rotate it.
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    GetFileSizeEx(handle, &length);
    size = static_cast<unsigned long long>(length.QuadPart);
    if (size > from) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(from);
        SetFilePointerEx(handle, at, nullptr, FILE_BEGIN);
        char buffer[65536];
        DWORD got;
        while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    }
    CloseHandle(handle);
    return true;
}

void print(const std::string& text, bool all)
{
    partial += text;
    std::size_t start = 0;
    for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        sayUtf8(line);
    }
    partial.erase(0, start);
    if (all && !partial.empty()) {
        sayUtf8(partial);
        partial.clear();
    }
}

void follow(bool all)
{
    std::string text;
    unsigned long long size = 0;
    if (!readFrom(path, offset, text, size)) return;
    if (size < offset) {
        // Rotated: the rest of the old file is now NAME.1, and NAME starts again.
        unsigned long long oldSize;
        readFrom(path + ".1", offset, text, oldSize);
        print(text, false);
        text.clear();
        offset = 0;
        readFrom(path, 0, text, size);
    }
    offset += text.size();
    print(text, all);
}

DWORD WINAPI followLoop(LPVOID)
{
    while (InterlockedCompareExchange(&following, 1, 1)) {
        follow(false);
        Sleep(kPollMs);
    }
    return 0;
}
}  // namespace

std::string monitorLogOf(const std::string& ini)
{
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA("RS-232C", "MONITOR", "", value, sizeof value, ini.c_str());
    if (!value[0]) {
        lstrcpynA(value, "hostsim-monitor.log", sizeof value);
        WritePrivateProfileStringA("RS-232C", "MONITOR", value, ini.c_str());
        addedTo = ini;
    }
    const std::string written = value;
    if (written.size() >= 2 && (written[1] == ':' || written[0] == '\\' || written[0] == '/')) return written;
    // The plug-in takes a relative path from the settings file's folder.
    char full[MAX_PATH];
    char* name = nullptr;
    if (!GetFullPathNameA(ini.c_str(), MAX_PATH, full, &name) || !name) return written;
    return std::string(full, static_cast<std::size_t>(name - full)) + written;
}

void startMonitorFollower(const std::string& log)
{
    path = log;
    // Only what this run adds: an earlier run's log stays unprinted.
    std::string ignored;
    readFrom(path, 0, ignored, offset);
    following = 1;
    thread = CreateThread(nullptr, 0, followLoop, nullptr, 0, nullptr);
}

void stopMonitorFollower()
{
    if (!thread) return;
    Sleep(kSettleMs);
    InterlockedExchange(&following, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
    follow(true);
    // A run without --monitor then logs nothing, as before.
    if (!addedTo.empty()) WritePrivateProfileStringA("RS-232C", "MONITOR", nullptr, addedTo.c_str());
}
