// A serial port whose behaviour the fuzz input scripts: which operations fail,
// the modem lines, the line errors, the bytes waiting, and an input queue count
// that may overstate what a read then returns. It keeps no call log, only what
// the invariants need, and checks how the device uses it: no call on a port
// that is not open, one port at a time, closes under the register lock, and a
// DCB accepted only with values the Windows driver accepts.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "device/Platform.h"

class FuzzPort final : public SerialPorts {
public:
    enum Op : std::uint32_t {
        kOpen, kClose, kGetState, kSetState, kSetTimeouts, kSetEventMask,
        kPurge, kEscape, kModemStatus, kClearErrors, kRead, kWrite, kOpCount,
    };

    FuzzPort();

    // --- scripted by the input ---
    std::uint32_t failing = 0;        // bit (1 << Op) set: that operation fails
    std::uint32_t modemLines = 0;     // kModemCtsOn | kModemDsrOn | ...
    std::uint32_t lineErrors = 0;     // reported and cleared by the next clearErrors
    std::uint32_t phantomQueued = 0;  // added to the queue count a read cannot deliver
    std::deque<std::uint8_t> input;   // bytes that arrived from the line

    // --- observed ---
    PortHandle openHandle = kNoPort;
    bool settingsRead = false;  // the open handle has answered for its line settings
    std::vector<std::uint8_t> written;  // bytes handed to writeByte since the last take
    int readsDelivered = 0;             // reads that returned a byte, since the last take
    std::uint8_t lastDelivered = 0;
    CommState state{};

    bool fails(Op op) const { return (failing >> op) & 1; }
    bool ctsReadsOn() const { return !fails(kModemStatus) && (modemLines & kModemCtsOn); }

    PortHandle open(const char* path) override;
    bool close(PortHandle port) override;
    bool getState(PortHandle port, CommState& out) override;
    bool setState(PortHandle port, const CommState& in) override;
    bool setTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
    bool setEventMask(PortHandle port, std::uint32_t mask) override;
    bool purge(PortHandle port, std::uint32_t flags) override;
    bool escape(PortHandle port, EscapeCode code) override;
    bool getModemStatus(PortHandle port, std::uint32_t& lines) override;
    bool clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued) override;
    bool readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead) override;
    bool writeByte(PortHandle port, std::uint8_t byte) override;

private:
    void checkInUse(PortHandle port) const;
    void checkIsSerialPort() const;
    PortHandle nextHandle_ = 0x100;
};
