// The bounded queue between the line and the monitor's writer: a ring of
// bytes holding records one after another. Adding one never waits and never
// allocates: when the ring is full the record is dropped and counted, and
// the next record that fits is preceded by a Dropped record with the count.
//
// Any number of threads may add (they take a spin lock of their own, held
// for one copy; the device's lock already keeps its callers to one at a
// time); one thread takes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/monitor/MonitorRecord.h"

class RecordQueue {
public:
    // `capacity` bytes, rounded up to a power of two.
    explicit RecordQueue(std::size_t capacity);

    // False when the record was dropped.
    bool add(const RecordHeader& header, const void* payload);

    // Hands every record waiting to `take(header, payload)`, in order, and
    // frees their room. Returns how many there were.
    template <typename Take>
    std::size_t takeAll(Take&& take);

    // Records dropped and not yet reported by a Dropped record. Read it once
    // no thread adds any more.
    std::uint32_t unreported() const { return dropped_; }

    static constexpr std::size_t kHeaderSize = sizeof(RecordHeader);

private:
    void copyIn(std::uint64_t at, const void* data, std::size_t length);
    void copyOut(std::uint64_t at, void* data, std::size_t length) const;
    bool fits(std::size_t bytes) const;
    void put(const RecordHeader& header, const void* payload);

    std::vector<std::uint8_t> ring_;
    std::size_t mask_;
    std::atomic<std::uint64_t> head_{0};  // bytes ever added; moved by the adding side
    std::atomic<std::uint64_t> tail_{0};  // bytes ever taken; moved by the taking side
    std::atomic_flag adding_ = ATOMIC_FLAG_INIT;
    std::uint32_t dropped_ = 0;  // under adding_
    std::vector<std::uint8_t> payload_;  // the taking side's copy of one payload
};

template <typename Take>
std::size_t RecordQueue::takeAll(Take&& take)
{
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    std::size_t count = 0;
    while (tail != head) {
        RecordHeader header;
        copyOut(tail, &header, kHeaderSize);
        payload_.resize(header.length);
        copyOut(tail + kHeaderSize, payload_.data(), header.length);
        tail += kHeaderSize + header.length;
        tail_.store(tail, std::memory_order_release);
        take(static_cast<const RecordHeader&>(header), static_cast<const std::uint8_t*>(payload_.data()));
        ++count;
    }
    return count;
}
