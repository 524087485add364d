#include "platform/monitor/RecordQueue.h"

#include <cstring>

namespace {
std::size_t powerOfTwoAtLeast(std::size_t bytes)
{
    std::size_t size = 1;
    while (size < bytes) size <<= 1;
    return size;
}

class SpinGuard {
public:
    explicit SpinGuard(std::atomic_flag& flag) : flag_(flag)
    {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~SpinGuard() { flag_.clear(std::memory_order_release); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    std::atomic_flag& flag_;
};
}  // namespace

RecordQueue::RecordQueue(std::size_t capacity) : ring_(powerOfTwoAtLeast(capacity)), mask_(ring_.size() - 1) {}

void RecordQueue::copyIn(std::uint64_t at, const void* data, std::size_t length)
{
    if (length == 0) return;
    const std::size_t start = static_cast<std::size_t>(at) & mask_;
    const std::size_t first = length < ring_.size() - start ? length : ring_.size() - start;
    std::memcpy(&ring_[start], data, first);
    if (first < length) std::memcpy(&ring_[0], static_cast<const std::uint8_t*>(data) + first, length - first);
}

void RecordQueue::copyOut(std::uint64_t at, void* data, std::size_t length) const
{
    if (length == 0) return;
    const std::size_t start = static_cast<std::size_t>(at) & mask_;
    const std::size_t first = length < ring_.size() - start ? length : ring_.size() - start;
    std::memcpy(data, &ring_[start], first);
    if (first < length) std::memcpy(static_cast<std::uint8_t*>(data) + first, &ring_[0], length - first);
}

bool RecordQueue::fits(std::size_t bytes) const
{
    const std::uint64_t used = head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire);
    return used + bytes <= ring_.size();
}

void RecordQueue::put(const RecordHeader& header, const void* payload)
{
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    copyIn(head, &header, kHeaderSize);
    copyIn(head + kHeaderSize, payload, header.length);
    head_.store(head + kHeaderSize + header.length, std::memory_order_release);
}

bool RecordQueue::add(const RecordHeader& header, const void* payload)
{
    SpinGuard guard(adding_);
    const std::size_t bytes = kHeaderSize + header.length;
    if (dropped_ > 0) {
        // The count goes first, in the place of the records it stands for.
        const std::size_t marker = kHeaderSize + sizeof dropped_;
        if (!fits(marker + bytes)) {
            ++dropped_;
            return false;
        }
        put(RecordHeader{header.time, RecordKind::Dropped, 0, sizeof dropped_}, &dropped_);
        dropped_ = 0;
    } else if (!fits(bytes)) {
        ++dropped_;
        return false;
    }
    put(header, payload);
    return true;
}
