// Watches the guest's data during a call for the escape to command mode:
// silence for the guard time, three escape characters each within the guard
// time of the one before, and silence for the guard time again. The three
// characters travel on as data; only the guest's own bytes count, so data
// from the remote never spoils or fakes an escape. Times are microseconds.
#pragma once

#include <cstdint>

class EscapeGuard {
public:
    // A call has just gone on line: the silence before an escape counts from now.
    void restart(std::uint64_t now);
    void guestByte(std::uint8_t byte, std::uint64_t now, std::uint8_t escapeCharacter, std::uint64_t guardTime);
    // True once, when the silence after the third escape character has lasted
    // the guard time.
    bool escaped(std::uint64_t now, std::uint64_t guardTime);

private:
    std::uint64_t lastByte_ = 0;
    int escapes_ = 0;  // escape characters seen in a row, after silence
};
