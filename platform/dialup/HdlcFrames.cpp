#include "platform/dialup/HdlcFrames.h"

namespace dialup {
namespace {
constexpr std::uint8_t kFlag = 0x7e;
constexpr std::uint8_t kEscape = 0x7d;
// What the frame check sequence runs to over a frame and its own two bytes.
constexpr std::uint16_t kGoodFcs = 0xf0b8;

// The FCS-16 of RFC 1662, a bit at a time: a few microseconds a frame.
std::uint16_t nextFcs(std::uint16_t fcs, std::uint8_t byte)
{
    fcs ^= byte;
    for (int bit = 0; bit < 8; ++bit) fcs = (fcs & 1) ? static_cast<std::uint16_t>((fcs >> 1) ^ 0x8408) : fcs >> 1;
    return fcs;
}
}  // namespace

bool HdlcFrames::take(std::uint8_t byte)
{
    if (byte == kFlag) {
        const bool whole = !escaped_ && !overrun_ && filling_ > 2 && fcs_ == kGoodFcs;
        size_ = whole ? filling_ - 2 : 0;
        filling_ = 0;
        fcs_ = 0xffff;
        escaped_ = false;
        overrun_ = false;
        return whole;
    }
    if (byte == kEscape) {
        escaped_ = true;
        return false;
    }
    if (escaped_) {
        byte ^= 0x20;
        escaped_ = false;
    }
    if (filling_ == sizeof frame_) {
        overrun_ = true;
        return false;
    }
    frame_[filling_++] = byte;
    fcs_ = nextFcs(fcs_, byte);
    return false;
}

}  // namespace dialup
