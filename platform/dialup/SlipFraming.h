// SLIP's framing (RFC 1055): each datagram ends with END, and END or ESC
// inside it goes as ESC and a code. Written here rather than taken from
// lwIP's slipif, which reads a serial device through functions of its own
// and knows no CSLIP: here the frame is unpacked before Van Jacobson
// decompression decides what kind of datagram it holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dialup {

constexpr std::uint8_t kSlipEnd = 0xc0;
constexpr std::uint8_t kSlipEsc = 0xdb;
constexpr std::uint8_t kSlipEscEnd = 0xdc;
constexpr std::uint8_t kSlipEscEsc = 0xdd;

class SlipDecoder {
public:
    // Larger frames are dropped whole: a SLIP link's MTU is 1006, and no
    // datagram the server accepts is over 1500.
    static constexpr std::size_t kLargestFrame = 1500;

    // Reads one byte of the line; true when it ended a frame that is now in
    // frame() (empty frames, between two ENDs, are skipped).
    bool take(std::uint8_t byte);
    const std::uint8_t* frame() const { return frame_; }
    std::size_t size() const { return size_; }
    // Frames dropped for their size or a broken escape.
    std::uint32_t dropped() const { return dropped_; }

private:
    std::uint8_t frame_[kLargestFrame];
    std::size_t size_ = 0;
    std::size_t filling_ = 0;
    bool escaped_ = false;
    bool broken_ = false;
    std::uint32_t dropped_ = 0;
};

// The most bytes a frame of `length` bytes can take on the line.
constexpr std::size_t slipEncodedLimit(std::size_t length) { return 2 * length + 2; }
// Writes `packet` as a frame (END, the escaped bytes, END) to `out`, which
// holds slipEncodedLimit(length) bytes; returns the bytes written.
std::size_t slipEncode(const std::uint8_t* packet, std::size_t length, std::uint8_t* out);

}  // namespace dialup
