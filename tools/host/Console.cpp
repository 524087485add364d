#include "tools/host/Console.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {
CRITICAL_SECTION& consoleLock()
{
    struct Lock {
        CRITICAL_SECTION section;
        Lock() { InitializeCriticalSection(&section); }
    };
    static Lock lock;
    return lock.section;
}
}  // namespace

void say(const char* format, ...)
{
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    EnterCriticalSection(&consoleLock());
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&consoleLock());
}

void sayWithText(const std::string& line, const std::string& text)
{
    constexpr UINT kShiftJis = 932;
    std::wstring wide(text.size() + 1, L'\0');
    const int count = MultiByteToWideChar(kShiftJis, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                          static_cast<int>(wide.size()));
    wide.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    wide = L" \"" + wide + L"\"";

    EnterCriticalSection(&consoleLock());
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::string utf8(wide.size() * 3, '\0');
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                                              static_cast<int>(utf8.size()), nullptr, nullptr);
        std::fwrite(utf8.data(), 1, bytes > 0 ? static_cast<std::size_t>(bytes) : 0, stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&consoleLock());
}

void sayUtf8(const std::string& line)
{
    EnterCriticalSection(&consoleLock());
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(output, &mode)) {
        std::wstring wide(line.size() + 1, L'\0');
        const int count = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0],
                                              static_cast<int>(wide.size()));
        WriteConsoleW(output, wide.data(), count > 0 ? static_cast<DWORD>(count) : 0, &written, nullptr);
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&consoleLock());
}

std::string hexOf(const std::uint8_t* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
