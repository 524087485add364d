// The device's re-entrant locks. The platform supplies the lock itself (a
// critical section on Windows, a recursive mutex natively); this wrapper adds
// the rank that fixes the order in which a thread may take them.
//
// At run time a thread may take a lock it already holds. The compiler's
// analysis knows no such lock, so the device takes each lock once per
// operation and hands it down to helpers that require it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/ThreadSafety.h"

// Locks are always taken in rising rank: device, register, timer.
enum class LockRank : std::uint8_t { Device = 0, Register = 1, Timer = 2 };
constexpr int kLockRankCount = 3;

class CAPABILITY("mutex") ReentrantLock {
public:
    void create(LockRank rank);
    void destroy();
    void lock() ACQUIRE();
    void unlock() RELEASE();
    LockRank rank() const { return rank_; }

private:
    // The platform's lock object lives here (no heap, no platform header).
    void platformCreate();
    void platformDestroy();
    void platformLock();
    void platformUnlock();

    alignas(16) unsigned char storage_[64];
    LockRank rank_;
};

class SCOPED_CAPABILITY ScopedLock {
public:
    explicit ScopedLock(ReentrantLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
    ~ScopedLock() RELEASE() { lock_.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    ReentrantLock& lock_;
};

// Lock-order checking, built into the native test builds. A thread that takes
// a lock it does not hold yet while holding one of higher rank reports the
// violation to the handler (tests fail on it) before it can deadlock.
namespace lock_order {
using ViolationHandler = void (*)(LockRank taking, LockRank held);
void setViolationHandler(ViolationHandler handler);
// How deep the calling thread holds the lock of this rank (0 = not held).
int heldDepth(LockRank rank);
void acquiring(LockRank rank);
void released(LockRank rank);
}  // namespace lock_order

inline void ReentrantLock::lock()
{
#if RS232C_LOCK_ORDER_CHECKS
    lock_order::acquiring(rank_);
#endif
    platformLock();
}

inline void ReentrantLock::unlock()
{
    platformUnlock();
#if RS232C_LOCK_ORDER_CHECKS
    lock_order::released(rank_);
#endif
}
