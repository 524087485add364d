#include "platform/dialup/SlipFraming.h"

namespace dialup {

bool SlipDecoder::take(std::uint8_t byte)
{
    if (byte == kSlipEnd) {
        const bool whole = !broken_ && !escaped_ && filling_ > 0;
        if ((broken_ || escaped_) && filling_ > 0) ++dropped_;
        size_ = whole ? filling_ : 0;
        filling_ = 0;
        escaped_ = false;
        broken_ = false;
        return whole;
    }
    if (broken_) return false;
    if (escaped_) {
        escaped_ = false;
        if (byte == kSlipEscEnd)
            byte = kSlipEnd;
        else if (byte == kSlipEscEsc)
            byte = kSlipEsc;
        else {
            broken_ = true;
            filling_ = filling_ > 0 ? filling_ : 1;  // counted as dropped at its END
            return false;
        }
    } else if (byte == kSlipEsc) {
        escaped_ = true;
        return false;
    }
    if (filling_ == kLargestFrame) {
        broken_ = true;
        return false;
    }
    frame_[filling_++] = byte;
    return false;
}

std::size_t slipEncode(const std::uint8_t* packet, std::size_t length, std::uint8_t* out)
{
    std::size_t at = 0;
    out[at++] = kSlipEnd;
    for (std::size_t i = 0; i < length; ++i) {
        if (packet[i] == kSlipEnd) {
            out[at++] = kSlipEsc;
            out[at++] = kSlipEscEnd;
        } else if (packet[i] == kSlipEsc) {
            out[at++] = kSlipEsc;
            out[at++] = kSlipEscEsc;
        } else {
            out[at++] = packet[i];
        }
    }
    out[at++] = kSlipEnd;
    return at;
}

}  // namespace dialup
