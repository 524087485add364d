// Gathers the guest's characters in command mode into command lines: what
// comes before "AT" is noise and skipped (programs send "+++AT" or ESC
// before a command), "A/" repeats the last line at once, S5 deletes, S3 ends
// the line. A line longer than kLongest is not kept whole: it answers ERROR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CommandLine {
public:
    // Characters kept after "AT"; enough for a 253-character host name with
    // a prefix and a port.
    static constexpr std::size_t kLongest = 300;

    enum class Event { None, Line, Repeat };

    Event take(std::uint8_t byte, std::uint8_t lineEnd, std::uint8_t backspace);
    // The text after "AT" of the line just ended, spaces and control characters left out.
    const std::string& text() const { return text_; }
    bool overflowed() const { return overflowed_; }
    void reset();

private:
    enum class Phase { Noise, SawA, InLine };
    Phase phase_ = Phase::Noise;
    std::string text_;
    bool overflowed_ = false;
};
