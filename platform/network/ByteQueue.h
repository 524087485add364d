// A first-in first-out queue of bytes with a fixed capacity, so that no
// buffer of a connection grows with what a peer or the guest sends: a full
// queue refuses bytes, and its owner holds the sender back instead.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

template <std::size_t Capacity>
class ByteQueue {
public:
    std::size_t size() const { return count_; }
    std::size_t room() const { return Capacity - count_; }
    bool empty() const { return count_ == 0; }

    // False, and nothing stored, when the queue is full.
    bool push(std::uint8_t byte)
    {
        if (count_ == Capacity) return false;
        bytes_[(start_ + count_) % Capacity] = byte;
        ++count_;
        return true;
    }

    // All of them or, when they do not fit, none.
    bool push(const std::uint8_t* data, std::size_t length)
    {
        if (length > room()) return false;
        for (std::size_t i = 0; i < length; ++i) push(data[i]);
        return true;
    }

    std::uint8_t pop()
    {
        const std::uint8_t byte = bytes_[start_];
        start_ = (start_ + 1) % Capacity;
        --count_;
        return byte;
    }

    void clear()
    {
        start_ = 0;
        count_ = 0;
    }

private:
    std::array<std::uint8_t, Capacity> bytes_{};
    std::size_t start_ = 0;
    std::size_t count_ = 0;
};
