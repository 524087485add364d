// PPP's frames as the async HDLC framing of RFC 1662 carries them on the
// line: between flags (7E), with 7D escaping the next byte (xor 20) and a
// frame check sequence at the end. lwIP takes the guest's bytes and makes
// the server's itself; this reads the same bytes again, each way, so that
// the line monitor is shown each whole frame as both ends saw it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dialup {

class HdlcFrames {
public:
    // A frame's address, control, protocol and information; longer ones are
    // not shown (the link's MRU is 1500).
    static constexpr std::size_t kLargestFrame = 1600;

    // Reads one byte of the line; true when it ended a frame whose check
    // sequence is right, now in frame() without it (empty frames between
    // two flags, and broken or cut ones, are skipped).
    bool take(std::uint8_t byte);
    const std::uint8_t* frame() const { return frame_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t frame_[kLargestFrame + 2];  // and the check sequence
    std::size_t size_ = 0;
    std::size_t filling_ = 0;
    std::uint16_t fcs_ = 0xffff;
    bool escaped_ = false;
    bool overrun_ = false;
};

}  // namespace dialup
