// One scripted line kind for the device's tests: a catalog that opens fake
// lines by name, and the lines it opens. Every call on the catalog and on its
// lines is logged in order, one readable entry each ("Open COM1",
// "SetControl DTR off", "SetFormat 9600 8 N 1", "WriteByte 0x41", "Close").
// A test scripts what the far end does (modem inputs, receive errors, bytes
// arriving), which operations fail, which features the lines lack and when a
// line has gone. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/Line.h"

enum class LineOp {
    Open, Close, ReachesOutside, State, Prepare, SetFormat, SetRate, ReadFormat,
    SetControl, ReadInputs, PollErrors, ReadByte, WriteByte, Discard, Restored,
};

// "9600 8 N 1", with " checked" when received parity is checked.
std::string describeFormat(const LineFormat& format);

class FakeLines final : public LineCatalog {
public:
    FakeLines();

    // --- What the test scripts ---
    void setInputs(const ModemInputs& inputs);
    void addErrors(std::uint8_t errors);  // LineError bits, fetched (and cleared) by the next pollErrors
    void receive(const std::string& bytes);  // arriving from the far end
    void fail(LineOp op, bool failing = true);  // Open: the catalog returns null; others: the call reports failure
    void refuseOpenOf(const std::string& name);
    void setFeatures(std::uint32_t features);   // of the lines opened from now on
    void setFormat(const LineFormat& format);   // what readFormat reports
    void setState(LineState state);             // what state() reports
    void reachOutsideWith(const std::string& prefix);  // names starting so reach outside

    // --- What the test reads back ---
    std::vector<std::string> log() const;
    std::vector<std::string> logSince(std::size_t first) const;
    std::size_t callCount() const;
    std::size_t countOf(LineOp op) const;
    void clearLog();
    std::vector<std::string> opened() const;  // names opened, in order
    int linesAlive() const;
    std::string written() const;              // bytes the lines took, in order
    std::size_t pendingInput() const;
    LineFormat currentFormat() const;
    // DTR, RTS and break as the line opened last was left (all off when it opens).
    struct Controls {
        bool dtr = false;
        bool rts = false;
        bool sendBreak = false;
    };
    Controls controls() const;
    // Line calls made without the device lock, and closes without the
    // register lock: the device's locking rules, checked on every call.
    int callsWithoutLocks() const;

    // --- LineCatalog ---
    std::unique_ptr<Line> open(const char* name) override;
    bool reachesOutside(const char* name) override;

private:
    friend class FakeLine;
    // Records the call; true when it is to fail.
    bool call(LineOp op, const std::string& entry);
    void checkLocks(LineOp op);

    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<LineOp> ops_;
    std::set<LineOp> failing_;
    std::set<std::string> refused_;
    std::vector<std::string> outside_;
    std::vector<std::string> opened_;
    std::uint32_t features_ = kLineHasFormat | kLineHasControls | kLineHasBreak;
    LineFormat format_;
    LineState state_ = LineState::Open;
    ModemInputs inputs_{};
    std::uint8_t errors_ = 0;
    std::deque<std::uint8_t> input_;
    std::string written_;
    Controls controls_;
    int alive_ = 0;
    int callsWithoutLocks_ = 0;
};
