// The bounded queue between the line and the writer, from threads at once:
// nothing lost without being counted. (Where the count goes: the monitor's
// tests, in the log.)
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
