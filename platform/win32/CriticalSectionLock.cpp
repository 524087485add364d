// On Windows the device's locks are critical sections: re-entrant for their
// owning thread, and cheap when uncontended.
#include <windows.h>

#include "device/ReentrantLock.h"

namespace {
CRITICAL_SECTION* sectionIn(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

void ReentrantLock::platformCreate()
{
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "lock storage too small");
    InitializeCriticalSection(sectionIn(storage_));
}

void ReentrantLock::platformDestroy() { DeleteCriticalSection(sectionIn(storage_)); }
void ReentrantLock::platformLock() { EnterCriticalSection(sectionIn(storage_)); }
void ReentrantLock::platformUnlock() { LeaveCriticalSection(sectionIn(storage_)); }
