// Reads a fuzzer input front to back, so that hand-made seeds read the way
// they are written. Past the end every read gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - at_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }

    std::uint16_t u16()
    {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    }

    std::uint32_t u32()
    {
        const std::uint32_t low = u16();
        return low | std::uint32_t{u16()} << 16;
    }

    // Up to `count` bytes, fewer near the end; `taken` says how many.
    const std::uint8_t* bytes(std::size_t count, std::size_t& taken)
    {
        taken = count < remaining() ? count : remaining();
        const std::uint8_t* start = data_ + at_;
        at_ += taken;
        return start;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
