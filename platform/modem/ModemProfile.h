// The modem's settings: the S-registers and the switches the guest sets with
// E, V, Q, X, &C, &D and &K. Z and &F put them back to these defaults; the
// modem has no stored profile of its own.
#pragma once

#include <array>
#include <cstdint>

// The S-registers the modem acts on.
enum SRegister : std::uint8_t {
    kRingsToAnswer = 0,   // S0: answer after this many rings; 0 = never by itself
    kRingCount = 1,       // S1: rings of the call now coming in
    kEscapeCharacter = 2, // S2: the escape character; above 127 no escape
    kLineEnd = 3,         // S3: ends a command line (CR)
    kLineFeed = 4,        // S4: follows S3 in results (LF)
    kBackspace = 5,       // S5: deletes the last character of a command line (BS)
    kAnswerWait = 7,      // S7: seconds a dialled call may take to answer
    kCarrierLossDelay = 10, // S10: kept for programs that set it; a call ends when the remote hangs up
    kGuardTime = 12,      // S12: silence before and after the escape, in 1/50 s
    kDtrDelay = 25,       // S25: how long DTR must stay off to count, in 1/100 s
};

// The registers above, in order: &V shows them.
constexpr SRegister kActingRegisters[] = {kRingsToAnswer, kRingCount, kEscapeCharacter, kLineEnd, kLineFeed,
                                          kBackspace,     kAnswerWait, kCarrierLossDelay, kGuardTime, kDtrDelay};

// What a DTR drop does (&D).
enum class DtrAction : std::uint8_t { Ignore = 0, Command = 1, HangUp = 2, Reset = 3 };

struct ModemProfile {
    static constexpr std::size_t kRegisters = 256;

    std::array<std::uint8_t, kRegisters> s{};
    bool echo = true;           // E1: command characters echoed
    bool verbose = true;        // V1: results as words
    bool quiet = false;         // Q1: no results at all
    std::uint8_t resultSet = 4; // X0..X4: which results are told apart
    bool dcdAlwaysOn = false;   // &C0: DCD on whether or not there is a call
    DtrAction dtr = DtrAction::HangUp;  // &D2
    bool rtsFlowControl = true; // &K3: the guest's RTS off holds data toward it

    ModemProfile() { reset(); }
    void reset();

    // Microsecond values of the timing registers.
    std::uint64_t guardTime() const { return std::uint64_t{s[kGuardTime]} * 20000; }
    std::uint64_t dtrDelay() const { return std::uint64_t{s[kDtrDelay]} * 10000; }
    // At least a second, so that S7=0 does not fail every call before it starts.
    std::uint64_t answerWait() const { return (s[kAnswerWait] ? s[kAnswerWait] : 1) * std::uint64_t{1000000}; }
    bool escapeEnabled() const { return s[kEscapeCharacter] <= 127; }
};
