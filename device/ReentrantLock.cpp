#include "device/ReentrantLock.h"

void ReentrantLock::create(LockRank rank)
{
    rank_ = rank;
    platformCreate();
}

void ReentrantLock::destroy() { platformDestroy(); }

namespace lock_order {
namespace {
thread_local int held[kLockRankCount];
ViolationHandler violationHandler = nullptr;
}  // namespace

void setViolationHandler(ViolationHandler handler) { violationHandler = handler; }

int heldDepth(LockRank rank) { return held[static_cast<int>(rank)]; }

void acquiring(LockRank rank)
{
    const int taking = static_cast<int>(rank);
    if (held[taking] == 0) {
        for (int higher = taking + 1; higher < kLockRankCount; ++higher) {
            if (held[higher] > 0 && violationHandler)
                violationHandler(rank, static_cast<LockRank>(higher));
        }
    }
    ++held[taking];
}

void released(LockRank rank) { --held[static_cast<int>(rank)]; }
}  // namespace lock_order
