#include "platform/dialup/LwipStack.h"

#include "lwip/init.h"
#include "lwip/mem.h"
#include "lwip/memp.h"
#include "lwip/stats.h"
#include "lwip/tcp.h"
#include "lwip/timeouts.h"

namespace dialup {
namespace {
Clock* holder = nullptr;
bool initialised = false;
std::uint32_t lastNow = 0;
std::uint32_t randomState = 0x2545f491;
// What lwIP keeps from its start: its cyclic timers and its resolver's socket.
std::size_t baselinePools = 0;
std::size_t baselineHeap = 0;

std::size_t poolsUsed()
{
    std::size_t used = 0;
    for (int pool = 0; pool < MEMP_MAX; ++pool) used += lwip_stats.memp[pool]->used;
    return used;
}
}  // namespace

bool LwipStack::acquire(Clock& clock)
{
    if (holder) return false;
    holder = &clock;
    const std::uint64_t now = clock.nowMicroseconds();
    lastNow = static_cast<std::uint32_t>(now / 1000);
    randomState ^= static_cast<std::uint32_t>(now) ^ static_cast<std::uint32_t>(now >> 32);
    if (randomState == 0) randomState = 0x2545f491;
    if (!initialised) {
        lwip_init();
        initialised = true;
        baselinePools = poolsUsed();
        baselineHeap = lwip_stats.mem.used;
    }
    return true;
}

void LwipStack::release() { holder = nullptr; }

void LwipStack::service() { sys_check_timeouts(); }

std::size_t LwipStack::poolsInUse() { return initialised ? poolsUsed() - baselinePools : 0; }
std::size_t LwipStack::heapInUse() { return initialised ? lwip_stats.mem.used - baselineHeap : 0; }

std::size_t LwipStack::roomToSend()
{
    // A segment's heap block holds its headers and the block's own beside the
    // data: 100 bytes cover them, counted once for every segment the data makes.
    constexpr std::size_t kSegmentOverhead = 100;
    constexpr std::size_t kHeapReserve = 32 * 1024;
    constexpr std::size_t kSegmentReserve = 32;
    const std::size_t heapFree = lwip_stats.mem.avail - lwip_stats.mem.used;
    const stats_mem& segments = *lwip_stats.memp[MEMP_TCP_SEG];
    const std::size_t segmentsFree = segments.avail - segments.used;
    if (heapFree <= kHeapReserve || segmentsFree <= kSegmentReserve) return 0;
    const std::size_t byHeap = (heapFree - kHeapReserve) * TCP_MSS / (TCP_MSS + kSegmentOverhead);
    const std::size_t bySegments = (segmentsFree - kSegmentReserve) * TCP_MSS;
    return byHeap < bySegments ? byHeap : bySegments;
}

std::uint32_t LwipStack::poolFailures()
{
    std::uint32_t failures = 0;
    if (!initialised) return 0;
    for (int pool = 0; pool < MEMP_MAX; ++pool) failures += lwip_stats.memp[pool]->err;
    return failures + lwip_stats.mem.err;
}

}  // namespace dialup

extern "C" {
// lwIP's clock in milliseconds: the holder's, and standing still between sessions.
u32_t sys_now(void)
{
    if (dialup::holder) dialup::lastNow = static_cast<u32_t>(dialup::holder->nowMicroseconds() / 1000);
    return dialup::lastNow;
}

// PPP mixes it into its magic numbers.
u32_t sys_jiffies(void) { return sys_now(); }

// For PPP's magic numbers, TCP's initial sequence numbers and ports: xorshift,
// seeded from the clock at each call's start.
uint32_t rs232c_dialup_random(void)
{
    std::uint32_t x = dialup::randomState;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    dialup::randomState = x;
    return x;
}
}
