// The bounded queue between the line and the writer: nothing lost without
// being counted, and the count where the records went missing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/monitor/RecordQueue.h"

namespace {
struct Taken {
    RecordKind kind;
    std::uint64_t time;
    std::uint32_t value;  // the Dropped count, or the payload's first four bytes
    std::size_t length;
};

std::vector<Taken> takeAll(RecordQueue& queue)
{
    std::vector<Taken> taken;
    queue.takeAll([&](const RecordHeader& header, const std::uint8_t* payload) {
        std::uint32_t value = 0;
        if (header.length) std::memcpy(&value, payload, header.length < 4 ? header.length : 4);
        taken.push_back({header.kind, header.time, value, header.length});
    });
    return taken;
}

bool addNumbered(RecordQueue& queue, std::uint64_t number, std::size_t length)
{
    std::vector<std::uint8_t> payload(length, static_cast<std::uint8_t>(number));
    if (length >= 4) std::memcpy(payload.data(), &number, 4);
    return queue.add(RecordHeader{number, RecordKind::Call, 0, static_cast<std::uint16_t>(length)}, payload.data());
}
}  // namespace

TEST(RecordQueue, AFullQueueDropsAndCountsWhereTheRecordsWentMissing)
{
    RecordQueue queue(256);  // 16 headers of 16 bytes
    int added = 0;
    for (std::uint64_t n = 0; n < 20; ++n) added += addNumbered(queue, n, 0);
    EXPECT_EQ(added, 16);
    EXPECT_EQ(queue.unreported(), 4u);

    const std::vector<Taken> first = takeAll(queue);
    ASSERT_EQ(first.size(), 16u);
    EXPECT_EQ(first.back().time, 15u);

    // The next record that fits comes after the count of those lost.
    EXPECT_TRUE(addNumbered(queue, 20, 8));
    const std::vector<Taken> next = takeAll(queue);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].kind, RecordKind::Dropped);
    EXPECT_EQ(next[0].value, 4u);
    EXPECT_EQ(next[1].time, 20u);
    EXPECT_EQ(queue.unreported(), 0u);
}

// Round and round a small ring, with records of every length.
TEST(RecordQueue, ThreadsAddingWhileOneTakesLoseNothingUncountedAndKeepTheirOrder)
{
    RecordQueue queue(4096);
    constexpr int kPerThread = 20000;
    std::atomic<int> running{2};
    auto add = [&](std::uint64_t base) {
        for (std::uint64_t n = 0; n < kPerThread; ++n) addNumbered(queue, base + n, 4 + n % 60);
        --running;
    };
    std::thread one(add, 0), two(add, 1000000);
    std::uint64_t taken = 0, dropped = 0, lastOne = 0, lastTwo = 1000000;
    bool inOrder = true;
    auto count = [&] {
        for (const Taken& t : takeAll(queue)) {
            if (t.kind == RecordKind::Dropped) {
                dropped += t.value;
                continue;
            }
            ++taken;
            std::uint64_t& last = t.time < 1000000 ? lastOne : lastTwo;
            inOrder = inOrder && t.time >= last && t.value == static_cast<std::uint32_t>(t.time) &&
                      t.length == 4 + (t.time % 1000000) % 60;
            last = t.time;
        }
    };
    while (running > 0) count();
    one.join();
    two.join();
    count();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(taken + dropped + queue.unreported(), 2u * kPerThread);
}
