// The cheapest platform the device can run on, for measuring the device's own
// cost: a port that always succeeds (CTS and DSR on, a byte always waiting
// when asked to receive) and counts the calls made of it, and a host timer
// that only adds up the periods it is given.
#pragma once

#include <array>
#include <cstdint>

#include "device/Host.h"
#include "device/Platform.h"
#include "device/Rs232cDevice.h"

class BenchPort final : public SerialPorts {
public:
    enum Op { kOpen, kClose, kGetState, kSetState, kSetTimeouts, kSetEventMask, kPurge, kEscape,
              kModemStatus, kClearErrors, kRead, kWrite, kOpCount };

    BenchPort()
    {
        state.DCBlength = 28;
        state.BaudRate = 9600;
        state.flags = 0x0001;
        state.ByteSize = 8;
    }

    bool opens = true;       // false: every open fails, the device runs without a port
    bool receiving = false;  // true: a byte is always waiting on the line
    std::array<std::uint64_t, kOpCount> calls{};
    CommState state{};

    std::uint64_t totalCalls() const
    {
        std::uint64_t total = 0;
        for (std::uint64_t count : calls) total += count;
        return total;
    }

    PortHandle open(const char*) override
    {
        counted(kOpen);
        return opens ? PortHandle{1} : kNoPort;
    }
    bool close(PortHandle) override { return counted(kClose); }
    bool getState(PortHandle, CommState& out) override
    {
        out = state;
        return counted(kGetState);
    }
    bool setState(PortHandle, const CommState& in) override
    {
        state = in;
        return counted(kSetState);
    }
    bool setTimeouts(PortHandle, const CommTimeouts&) override { return counted(kSetTimeouts); }
    bool setEventMask(PortHandle, std::uint32_t) override { return counted(kSetEventMask); }
    bool purge(PortHandle, std::uint32_t) override { return counted(kPurge); }
    bool escape(PortHandle, EscapeCode) override { return counted(kEscape); }
    bool getModemStatus(PortHandle, std::uint32_t& lines) override
    {
        lines = kModemCtsOn | kModemDsrOn;
        return counted(kModemStatus);
    }
    bool clearErrors(PortHandle, std::uint32_t& errors, std::uint32_t& queued) override
    {
        errors = 0;
        queued = receiving ? 1 : 0;
        return counted(kClearErrors);
    }
    bool readByte(PortHandle, std::uint8_t& byte, std::uint32_t& got) override
    {
        byte = 0x55;
        got = receiving ? 1 : 0;
        return counted(kRead);
    }
    bool writeByte(PortHandle, std::uint8_t) override { return counted(kWrite); }

private:
    bool counted(Op op)
    {
        ++calls[op];
        return true;
    }
};

// The host timer: counts calls and adds up the periods set. One for the
// whole program, as the host has one.
class BenchTimer final : public HostTimer {
public:
    static std::uint64_t calls;
    static std::uint64_t periods;
    static std::uint64_t periodSum;
    static void clear() { calls = periods = periodSum = 0; }
    static BenchTimer& instance()
    {
        static BenchTimer timer;
        return timer;
    }

    bool acquire() override { return ++calls, true; }
    void stop() override { ++calls; }
    void setPeriod(std::int32_t units) override
    {
        ++calls;
        ++periods;
        periodSum += static_cast<std::uint64_t>(units);
    }
    void start() override { ++calls; }
    void halt() override { ++calls; }
};
inline std::uint64_t BenchTimer::calls = 0;
inline std::uint64_t BenchTimer::periods = 0;
inline std::uint64_t BenchTimer::periodSum = 0;

// A device wired to the port and timer above, with the settings given, its
// line programmed by mode byte `mode` and command 0x37 (transmitter and
// receiver on, DTR and RTS).
inline void startDevice(Rs232cDevice& device, BenchPort& port, const LineSettings& settings, std::uint8_t mode)
{
    device.construct(Platform{&port, nullptr, nullptr});
    device.host = HostLinks{&BenchTimer::instance(), nullptr};
    device.systemClock = 2457600;
    device.timer2Count = 16;
    device.storeSettings(settings, true);
    device.writeModeCommand(mode);
    device.writeModeCommand(0x37);
}
