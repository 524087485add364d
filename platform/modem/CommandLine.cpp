#include "platform/modem/CommandLine.h"

CommandLine::Event CommandLine::take(std::uint8_t byte, std::uint8_t lineEnd, std::uint8_t backspace)
{
    switch (phase_) {
    case Phase::Noise:
        if (byte == 'A' || byte == 'a') phase_ = Phase::SawA;
        return Event::None;
    case Phase::SawA:
        if (byte == 'T' || byte == 't') {
            phase_ = Phase::InLine;
            text_.clear();
            overflowed_ = false;
        } else if (byte == '/') {
            phase_ = Phase::Noise;
            return Event::Repeat;
        } else if (byte != 'A' && byte != 'a') {
            phase_ = Phase::Noise;
        }
        return Event::None;
    case Phase::InLine:
        if (byte == lineEnd) {
            phase_ = Phase::Noise;
            return Event::Line;
        }
        if (byte == backspace) {
            if (!text_.empty()) text_.pop_back();
        } else if (byte > ' ' && byte != 0x7F) {
            if (text_.size() < kLongest)
                text_.push_back(static_cast<char>(byte));
            else
                overflowed_ = true;
        }
        return Event::None;
    }
    return Event::None;
}

void CommandLine::reset()
{
    phase_ = Phase::Noise;
    text_.clear();
    overflowed_ = false;
}
