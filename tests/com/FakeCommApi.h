// A scripted comm API for the COM port line's tests: records every call with
// its arguments, in order; reports the settings, modem lines, errors and
// received bytes a test gives it; can be told to fail any call.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/CommApi.h"

enum class CommOp {
    Open,
    Close,
    GetState,
    SetState,
    SetTimeouts,
    SetEventMask,
    Purge,
    Escape,
    GetModemStatus,
    ClearErrors,
    ReadByte,
    WriteByte,
};

struct CommCall {
    CommCall(CommOp operation, PortHandle handle, std::string openedPath = "")
        : op(operation), port(handle), path(std::move(openedPath))
    {
    }
    CommOp op;
    PortHandle port;
    std::string path;         // Open
    CommState state{};        // SetState
    CommTimeouts timeouts{};  // SetTimeouts
};

class FakeCommApi final : public CommApi {
public:
    FakeCommApi();

    // --- What the test scripts ---
    void setReported(const CommState& state) { state_ = state; }  // what GetState reports
    void setModemLines(std::uint32_t lines) { modemLines_ = lines; }
    void addErrors(std::uint32_t errors) { errors_ |= errors; }  // reported and cleared by the next ClearErrors
    void receive(const std::string& bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }
    void fail(CommOp op, bool failing = true);

    // --- What the test reads back ---
    // One entry per call: "Open //./COM1", "Escape ClrDtr",
    // "SetState 9600 8 N 1 flags=0x20A1", "Purge 0xF", "WriteByte 0x41" ...
    std::vector<std::string> log() const;
    std::vector<CommCall> callsOf(CommOp op) const;
    void clearCalls()
    {
        calls_.clear();
        log_.clear();
    }
    bool isOpen(PortHandle port) const { return open_.count(port) != 0; }

    // --- CommApi ---
    PortHandle open(const char* path) override;
    bool close(PortHandle port) override;
    bool getState(PortHandle port, CommState& state) override;
    bool setState(PortHandle port, const CommState& state) override;
    bool setTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
    bool setEventMask(PortHandle port, std::uint32_t mask) override;
    bool purge(PortHandle port, std::uint32_t flags) override;
    bool escape(PortHandle port, EscapeCode code) override;
    bool getModemStatus(PortHandle port, std::uint32_t& lines) override;
    bool clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued) override;
    bool readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead) override;
    bool writeByte(PortHandle port, std::uint8_t byte) override;

private:
    // Records the call and its text; true when the test made it fail.
    bool record(CommCall call, const std::string& detail = "");

    std::vector<CommCall> calls_;
    std::vector<std::string> log_;
    std::set<CommOp> failing_;
    std::set<PortHandle> open_;
    PortHandle nextHandle_ = 0x100;
    std::uint32_t modemLines_ = 0;
    std::uint32_t errors_ = 0;
    std::deque<std::uint8_t> input_;
    CommState state_{};
};

// A CommState as "9600 8 N 1 flags=0x20A1" (stop bits 1, 1.5, 2; the low 15 flag bits).
std::string describeState(const CommState& state);
