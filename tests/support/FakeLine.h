// The one stand-in for a line kind, for the device's tests, fuzzers and
// benchmarks: a catalog that opens fake lines by name, and the lines it opens.
// What the far end does is scripted (modem inputs, receive errors, bytes
// arriving, a count of waiting bytes that overstates what a read gives, a
// line that goes or is still connecting), as are the operations that fail,
// the features the lines lack and the names that reach outside.
//
// How much it keeps besides depends on its job:
//  - Everything (unit tests): every call in a readable log ("Open COM1",
//    "SetControl DTR off", "SetFormat 9600 8 N 1", "WriteByte 0x41"), safe
//    to script and read from several threads;
//  - Bytes (fuzzers): the bytes moved each way, one thread;
//  - Counts (benchmarks): how often each operation was called, and nothing
//    else, at the cost of an increment.
// In the first two it also notes every call that breaks the device's rules:
// a call without the device lock, a close without the register lock, a
// feature the line lacks, a second line open at once, a name longer than the
// settings can hold.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/Line.h"

enum class LineOp : std::uint8_t {
    Open, Close, ReachesOutside, State, Prepare, Service, SetFormat, SetRate, ReadFormat,
    SetControl, ReadInputs, PollErrors, ReadByte, WriteByte, Discard, Restored, Count,
};
constexpr int kLineOpCount = static_cast<int>(LineOp::Count);

// "9600 8 N 1", with " checked" when received parity is checked.
std::string describeFormat(const LineFormat& format);

class FakeLines final : public LineCatalog {
public:
    enum class Keeping { Everything, Bytes, Counts };
    explicit FakeLines(Keeping keeping = Keeping::Everything);

    // --- What the test scripts ---
    void setInputs(const ModemInputs& inputs);
    void addErrors(std::uint8_t errors);  // LineError bits, fetched (and cleared) by the next pollErrors
    void receive(const std::string& bytes);  // arriving from the far end
    void receiveForever(std::uint8_t byte);  // from now on this byte always waits, and reading it takes nothing
    void overstateWaiting(std::uint32_t extra);  // the count of waiting bytes says `extra` more than a read gives
    void fail(LineOp op, bool failing = true);  // Open: the catalog returns null; others: the call reports failure
    void refuseOpenOf(const std::string& name);
    void setFeatures(std::uint32_t features);   // of the lines opened from now on
    void setFormat(const LineFormat& format);   // what readFormat reports
    void setState(LineState state);             // what state() reports
    void reachOutsideWith(const std::string& prefix);  // names starting so reach outside

    // --- What the test reads back ---
    std::vector<std::string> log() const;  // Everything only
    std::vector<std::string> logSince(std::size_t first) const;
    std::size_t callCount() const;         // every call, in each way of keeping
    std::size_t countOf(LineOp op) const;
    void clearLog();                       // the log and the counts
    std::vector<std::string> opened() const;  // names opened, in order
    int linesAlive() const;
    std::string written() const;           // bytes handed to writeByte, taken or not, in order
    std::string delivered() const;         // bytes readByte gave the device, in order
    void clearBytes();                     // both of them
    std::size_t pendingInput() const;
    LineFormat currentFormat() const;
    ModemInputs inputs() const;
    bool fails(LineOp op) const;
    bool marksOutside(const char* name) const;  // as reachesOutside answers, without counting a call
    // DTR, RTS and break as the line opened last was left (all off when it opens).
    struct Controls {
        bool dtr = false;
        bool rts = false;
        bool sendBreak = false;
    };
    Controls controls() const;
    // The calls that broke the device's rules, each described once.
    std::vector<std::string> breaches() const;

    // --- LineCatalog ---
    std::unique_ptr<Line> open(const char* name) override;
    bool reachesOutside(const char* name) override;

private:
    friend class FakeLine;
    class Guard;
    // Counts the call, logs it when keeping everything, checks the locks it
    // is made under; true when it is to fail.
    template <typename Describe>
    bool call(LineOp op, Describe describe);
    bool record(LineOp op, std::string entry);
    void breach(const char* what);

    const Keeping keeping_;
    mutable std::mutex mutex_;  // held only when keeping everything
    std::vector<std::string> log_;
    std::array<std::size_t, kLineOpCount> counts_{};
    std::uint32_t failing_ = 0;  // bit per LineOp
    std::set<std::string> refused_;
    std::vector<std::string> outside_;
    std::vector<std::string> opened_;
    std::uint32_t features_ = kLineHasFormat | kLineHasControls | kLineHasBreak;
    LineFormat format_;
    LineState state_ = LineState::Open;
    ModemInputs inputs_{};
    std::uint8_t errors_ = 0;
    std::deque<std::uint8_t> input_;
    bool forever_ = false;
    std::uint8_t foreverByte_ = 0;
    std::uint32_t overstated_ = 0;
    std::string written_;
    std::string delivered_;
    Controls controls_;
    int alive_ = 0;
    std::vector<std::string> breaches_;
};
