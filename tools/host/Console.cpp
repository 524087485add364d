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
