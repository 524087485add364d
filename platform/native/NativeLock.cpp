// Native builds (tests, fuzzers, benchmarks): the device's locks are
// recursive mutexes.
#include <mutex>
#include <new>

#include "device/ReentrantLock.h"

namespace {
std::recursive_mutex& mutexIn(unsigned char* storage) { return *std::launder(reinterpret_cast<std::recursive_mutex*>(storage)); }
}  // namespace

void ReentrantLock::platformCreate()
{
    static_assert(sizeof(std::recursive_mutex) <= sizeof(storage_), "lock storage too small");
    new (storage_) std::recursive_mutex();
}

void ReentrantLock::platformDestroy() { mutexIn(storage_).~recursive_mutex(); }
void ReentrantLock::platformLock() { mutexIn(storage_).lock(); }
void ReentrantLock::platformUnlock() { mutexIn(storage_).unlock(); }
