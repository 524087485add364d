// The lock-order checker itself must catch an inversion, or every other test
// that relies on it proves nothing.
#include <gtest/gtest.h>

#include "device/ReentrantLock.h"

namespace {
int violations = 0;
void countViolation(LockRank, LockRank) { ++violations; }

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

    device.lock();
    timer.lock();
    device.lock();  // re-entering a held lock is not an inversion
    device.unlock();
    timer.unlock();
    device.unlock();
    EXPECT_EQ(violations, 1);
    EXPECT_EQ(lock_order::heldDepth(LockRank::Device), 0);

    lock_order::setViolationHandler(nullptr);
    timer.destroy();
    device.destroy();
}
}  // namespace
