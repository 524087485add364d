// The lock-order checker itself must catch an inversion, or every other test
// that relies on it proves nothing.
#include <gtest/gtest.h>

#include "device/ReentrantLock.h"

namespace {
int violations = 0;
void countViolation(LockRank, LockRank) { ++violations; }

// Re-enters a held lock on purpose: the locks allow it at run time, which the
// compiler's analysis cannot know.
void reenterWhileHoldingALaterLock(ReentrantLock& device, ReentrantLock& timer) NO_THREAD_SAFETY_ANALYSIS
{
    device.lock();
    timer.lock();
    device.lock();
    device.unlock();
    timer.unlock();
    device.unlock();
}

TEST(LockOrder, TakingAnEarlierLockWhileHoldingALaterOneIsReported)
{
    ReentrantLock device, timer;
    device.create(LockRank::Device);
    timer.create(LockRank::Timer);
    lock_order::setViolationHandler(countViolation);
    violations = 0;

    timer.lock();
    device.lock();  // inverted
    device.unlock();
    timer.unlock();
    EXPECT_EQ(violations, 1);

    reenterWhileHoldingALaterLock(device, timer);  // re-entering a held lock is not an inversion
    EXPECT_EQ(violations, 1);
    EXPECT_EQ(lock_order::heldDepth(LockRank::Device), 0);

    lock_order::setViolationHandler(nullptr);
    timer.destroy();
    device.destroy();
}
}  // namespace
