// A scripted serial port for unit tests: records every call with its
// arguments, in order; reports the modem lines, line errors and received
// bytes a test gives it; can be told to fail any operation. Safe to use from
// several threads.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/Platform.h"

enum class PortOp {
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

const char* portOpName(PortOp op);
const char* escapeName(EscapeCode code);

struct PortCall {
    PortCall(PortOp operation, PortHandle handle) : op(operation), port(handle) {}
    PortOp op;
    PortHandle port = kNoPort;
    std::string path;              // Open
    CommState state{};             // SetState
    CommTimeouts timeouts{};       // SetTimeouts
    std::uint32_t value = 0;       // SetEventMask mask, Purge flags
    EscapeCode escape{};           // Escape
    std::uint8_t byte = 0;         // WriteByte
};

class FakeSerialPorts final : public SerialPorts {
public:
    FakeSerialPorts();

    // --- What the test scripts ---
    void setModemLines(std::uint32_t lines);       // kModemCtsOn | ...
    void addLineErrors(std::uint32_t errors);      // reported (and cleared) by the next clearErrors
    void receive(const std::vector<std::uint8_t>& bytes);  // bytes arriving from the far end
    void receive(const std::string& text);
    void failOperation(PortOp op, bool fail = true);
    void failOpenOf(const std::string& path);      // only this path refuses to open
    void setState(const CommState& state);         // what getState reports

    // --- What the test reads back ---
    std::vector<PortCall> calls() const;
    std::vector<PortCall> callsOf(PortOp op) const;
    // Readable log, one entry per call: "Open //./COM1", "Escape ClrDtr",
    // "SetState 9600 8 N 1 flags=0x20A1", "Purge 0xF", "WriteByte 0x41" ...
    std::vector<std::string> log() const;
    std::vector<std::string> logSince(std::size_t first) const;
    std::size_t callCount() const;
    void clearCalls();
    std::vector<std::uint8_t> written() const;     // bytes the device sent
    CommState currentState() const;                // last state set (or scripted)
    std::size_t openCount() const;                 // successful opens so far
    bool isOpen(PortHandle port) const;
    std::size_t pendingInput() const;
    // DTR, RTS and break as the escapes left them on the port opened last
    // (all off when it opens).
    struct OutputLines {
        bool dtr = false;
        bool rts = false;
        bool breakOn = false;
    };
    OutputLines outputLines() const;
    // The escapes since call `first`, by name and sorted: what was asked of
    // the lines, whatever the order.
    std::vector<std::string> escapesSince(std::size_t first) const;

    // --- SerialPorts ---
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
    bool failing(PortOp op) const { return failing_.count(op) != 0; }
    void record(PortCall call) { calls_.push_back(std::move(call)); }
    static std::string describe(const PortCall& call);

    mutable std::mutex mutex_;
    std::vector<PortCall> calls_;
    std::set<PortOp> failing_;
    std::set<std::string> refusedPaths_;
    std::set<PortHandle> open_;
    PortHandle nextHandle_ = 0x100;
    std::size_t openCount_ = 0;
    std::uint32_t modemLines_ = 0;
    std::uint32_t errors_ = 0;
    std::deque<std::uint8_t> input_;
    std::vector<std::uint8_t> written_;
    CommState state_{};
    OutputLines lines_;
};

// Formats a CommState as "9600 8 N 1 flags=0x20A1" (stop bits 1, 1.5, 2).
std::string describeState(const CommState& state);
