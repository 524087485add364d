// A line kind whose behaviour the fuzz input scripts: which operations fail,
// which features its lines lack, the modem inputs, the receive errors, the
// bytes waiting, a count of waiting bytes that may overstate what a read then
// returns, and a line that goes or is still connecting. It keeps no call log,
// only what the invariants need, and checks how the device uses it: every
// call under the device lock, one line at a time, closed under the register
// lock, only the features the line has, and a format only as a UART can take.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "device/Line.h"

class FuzzLines final : public LineCatalog {
public:
    enum Op : std::uint32_t {
        kOpen, kSetFormat, kSetRate, kReadFormat, kSetControl, kReadInputs, kPollErrors, kRead, kWrite, kOpCount,
    };
    // Bits of the scripted fault word above the failing operations: features
    // the lines opened from then on lack.
    static constexpr int kMissingFeatureShift = 12;

    // --- scripted by the input ---
    std::uint32_t failing = 0;          // bit (1 << Op) set: that operation fails
    std::uint32_t features = kLineHasFormat | kLineHasControls | kLineHasBreak;
    ModemInputs inputs{};
    std::uint8_t lineErrors = 0;        // LineError bits, fetched and cleared by the next poll
    std::uint32_t phantomWaiting = 0;   // added to the count of waiting bytes a read cannot deliver
    LineState state = LineState::Open;
    std::deque<std::uint8_t> input;     // bytes that arrived from the far end

    // --- observed ---
    bool lineOpen = false;
    std::uint32_t opens = 0;            // lines opened so far: tells one line from the next
    std::vector<std::uint8_t> written;  // bytes handed to writeByte since the last take
    int readsDelivered = 0;             // reads that returned a byte, since the last take
    std::uint8_t lastDelivered = 0;
    LineFormat format{9600, 8, Parity::None, StopBits::One, false};

    bool fails(Op op) const { return (failing >> op) & 1; }
    bool ctsReadsOn() const { return !fails(kReadInputs) && inputs.cts; }
    // COM10 stands for a name that reaches outside this computer.
    static bool outside(const char* name);

    std::unique_ptr<Line> open(const char* name) override;
    bool reachesOutside(const char* name) override;
};
