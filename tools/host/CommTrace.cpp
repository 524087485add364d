#include <winsock2.h>

#include "tools/host/CommTrace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/host/Console.h"

namespace {
struct Trace {
    CRITICAL_SECTION lock;
    std::vector<std::string> calls;
    HANDLE port = INVALID_HANDLE_VALUE;
    Trace() { InitializeCriticalSection(&lock); }
};

Trace& trace()
{
    static Trace t;
    return t;
}

void record(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void record(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    EnterCriticalSection(&trace().lock);
    trace().calls.emplace_back(line);
    LeaveCriticalSection(&trace().lock);
}

decltype(&CreateFileA) realCreateFileA;
decltype(&CloseHandle) realCloseHandle;
decltype(&SetCommState) realSetCommState;
decltype(&EscapeCommFunction) realEscapeCommFunction;
decltype(&PurgeComm) realPurgeComm;
decltype(&SetCommTimeouts) realSetCommTimeouts;
decltype(&SetCommMask) realSetCommMask;
decltype(&ReadFile) realReadFile;
decltype(&WriteFile) realWriteFile;
decltype(&ClearCommError) realClearCommError;
decltype(&GetCommModemStatus) realGetCommModemStatus;
decltype(&GetCommState) realGetCommState;
decltype(&::send) realSend;
decltype(&::recv) realRecv;
decltype(&::select) realSelect;
decltype(&::ioctlsocket) realIoctlsocket;
decltype(&::accept) realAccept;

enum TimedCall {
    kReadFile, kWriteFile, kClearCommError, kGetCommModemStatus, kGetCommState,
    kSend, kRecv, kSelect, kIoctlsocket, kAccept, kTimedCalls
};
const char* const kTimedNames[kTimedCalls] = {"ReadFile", "WriteFile", "ClearCommError", "GetCommModemStatus",
                                              "GetCommState", "send", "recv", "select", "ioctlsocket", "accept"};
volatile LONG64 timedCount[kTimedCalls];
volatile LONG64 timedCounts[kTimedCalls];  // performance-counter counts

class Stopwatch {
public:
    explicit Stopwatch(TimedCall call) : call_(call) { QueryPerformanceCounter(&start_); }
    ~Stopwatch()
    {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        InterlockedIncrement64(&timedCount[call_]);
        InterlockedExchangeAdd64(&timedCounts[call_], end.QuadPart - start_.QuadPart);
    }

private:
    TimedCall call_;
    LARGE_INTEGER start_;
};

BOOL WINAPI timedReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped)
{
    Stopwatch watch(kReadFile);
    return realReadFile(handle, buffer, size, done, overlapped);
}

BOOL WINAPI timedWriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped)
{
    // The line monitor writes its log from a thread of its own: only the
    // port's writes are the line's calls.
    if (handle != trace().port) return realWriteFile(handle, buffer, size, done, overlapped);
    Stopwatch watch(kWriteFile);
    return realWriteFile(handle, buffer, size, done, overlapped);
}

BOOL WINAPI timedClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status)
{
    Stopwatch watch(kClearCommError);
    return realClearCommError(handle, errors, status);
}

BOOL WINAPI timedGetCommModemStatus(HANDLE handle, LPDWORD lines)
{
    Stopwatch watch(kGetCommModemStatus);
    return realGetCommModemStatus(handle, lines);
}

BOOL WINAPI timedGetCommState(HANDLE handle, LPDCB dcb)
{
    Stopwatch watch(kGetCommState);
    return realGetCommState(handle, dcb);
}

int WSAAPI timedSend(SOCKET socket, const char* buffer, int length, int flags)
{
    Stopwatch watch(kSend);
    return realSend(socket, buffer, length, flags);
}

int WSAAPI timedRecv(SOCKET socket, char* buffer, int length, int flags)
{
    Stopwatch watch(kRecv);
    return realRecv(socket, buffer, length, flags);
}

int WSAAPI timedSelect(int count, fd_set* readable, fd_set* writable, fd_set* failed, PTIMEVAL timeout)
{
    Stopwatch watch(kSelect);
    return realSelect(count, readable, writable, failed, timeout);
}

int WSAAPI timedIoctlsocket(SOCKET socket, long command, u_long* argument)
{
    Stopwatch watch(kIoctlsocket);
    return realIoctlsocket(socket, command, argument);
}

SOCKET WSAAPI timedAccept(SOCKET socket, sockaddr* address, int* length)
{
    Stopwatch watch(kAccept);
    return realAccept(socket, address, length);
}

HANDLE WINAPI tracedCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model)
{
    HANDLE handle = realCreateFileA(path, access, share, security, disposition, flags, model);
    DWORD error = GetLastError();
    if (path && std::strncmp(path, "//./", 4) == 0) {
        record("comm open path=%s access=%08lX share=%lu disposition=%lu flags=%08lX result=%s", path, access,
               share, disposition, flags, handle == INVALID_HANDLE_VALUE ? "fail" : "ok");
        if (handle != INVALID_HANDLE_VALUE) trace().port = handle;
    }
    SetLastError(error);
    return handle;
}

BOOL WINAPI tracedCloseHandle(HANDLE handle)
{
    bool port = handle == trace().port && handle != INVALID_HANDLE_VALUE;
    BOOL result = realCloseHandle(handle);
    if (port) {
        record("comm close result=%d", result ? 1 : 0);
        trace().port = INVALID_HANDLE_VALUE;
    }
    return result;
}

BOOL WINAPI tracedSetCommState(HANDLE handle, LPDCB dcb)
{
    BOOL result = realSetCommState(handle, dcb);
    std::uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(dcb) + 8, sizeof flags);
    record("comm dcb length=%lu baud=%lu size=%u parity=%u stop=%u flags=%08X result=%d", dcb->DCBlength,
           dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits, flags, result ? 1 : 0);
    return result;
}

const char* escapeName(DWORD function)
{
    switch (function) {
    case SETRTS: return "SETRTS";
    case CLRRTS: return "CLRRTS";
    case SETDTR: return "SETDTR";
    case CLRDTR: return "CLRDTR";
    case SETBREAK: return "SETBREAK";
    case CLRBREAK: return "CLRBREAK";
    default: return "OTHER";
    }
}

BOOL WINAPI tracedEscapeCommFunction(HANDLE handle, DWORD function)
{
    BOOL result = realEscapeCommFunction(handle, function);
    record("comm escape %s result=%d", escapeName(function), result ? 1 : 0);
    return result;
}

BOOL WINAPI tracedPurgeComm(HANDLE handle, DWORD flags)
{
    BOOL result = realPurgeComm(handle, flags);
    record("comm purge flags=%02lX result=%d", flags, result ? 1 : 0);
    return result;
}

BOOL WINAPI tracedSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    BOOL result = realSetCommTimeouts(handle, timeouts);
    record("comm timeouts interval=%08lX %lu %lu %lu %lu result=%d", timeouts->ReadIntervalTimeout,
           timeouts->ReadTotalTimeoutMultiplier, timeouts->ReadTotalTimeoutConstant,
           timeouts->WriteTotalTimeoutMultiplier, timeouts->WriteTotalTimeoutConstant, result ? 1 : 0);
    return result;
}

BOOL WINAPI tracedSetCommMask(HANDLE handle, DWORD mask)
{
    BOOL result = realSetCommMask(handle, mask);
    record("comm mask %03lX result=%d", mask, result ? 1 : 0);
    return result;
}

// Replaces the module's import of `name` from `library` with `replacement`.
template <typename Fn>
bool patchImport(HMODULE module, const char* library, const char* name, Fn replacement, Fn& original)
{
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return false;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name;
         ++import) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), library) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            original = reinterpret_cast<Fn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}
}  // namespace

bool traceCommCalls(HMODULE plugin)
{
    bool all = true;
    auto patch = [&](const char* name, auto replacement, auto& original) {
        if (!patchImport(plugin, "KERNEL32.dll", name, replacement, original)) {
            say("warning %s is not imported by the plug-in; not traced", name);
            all = false;
        }
    };
    // A plug-in without network lines imports no socket calls: nothing to time then.
    auto time = [&](const char* name, auto replacement, auto& original) {
        patchImport(plugin, "WS2_32.dll", name, replacement, original);
    };
    patch("CreateFileA", tracedCreateFileA, realCreateFileA);
    patch("CloseHandle", tracedCloseHandle, realCloseHandle);
    patch("SetCommState", tracedSetCommState, realSetCommState);
    patch("EscapeCommFunction", tracedEscapeCommFunction, realEscapeCommFunction);
    patch("PurgeComm", tracedPurgeComm, realPurgeComm);
    patch("SetCommTimeouts", tracedSetCommTimeouts, realSetCommTimeouts);
    patch("SetCommMask", tracedSetCommMask, realSetCommMask);
    patch("ReadFile", timedReadFile, realReadFile);
    patch("WriteFile", timedWriteFile, realWriteFile);
    patch("ClearCommError", timedClearCommError, realClearCommError);
    patch("GetCommModemStatus", timedGetCommModemStatus, realGetCommModemStatus);
    patch("GetCommState", timedGetCommState, realGetCommState);
    time("send", timedSend, realSend);
    time("recv", timedRecv, realRecv);
    time("select", timedSelect, realSelect);
    time("ioctlsocket", timedIoctlsocket, realIoctlsocket);
    time("accept", timedAccept, realAccept);
    return all;
}

std::vector<std::string> commCallTimes()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<std::string> lines;
    for (int call = 0; call < kTimedCalls; ++call) {
        char line[128];
        std::snprintf(line, sizeof line, "%s count=%lld us=%lld", kTimedNames[call],
                      static_cast<long long>(timedCount[call]),
                      static_cast<long long>(timedCounts[call] * 1000000 / frequency.QuadPart));
        lines.emplace_back(line);
    }
    return lines;
}

std::vector<std::string> takeCommCalls()
{
    EnterCriticalSection(&trace().lock);
    std::vector<std::string> calls;
    calls.swap(trace().calls);
    LeaveCriticalSection(&trace().lock);
    return calls;
}
