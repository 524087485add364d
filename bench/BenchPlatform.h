// The cheapest platform the device can run on, for measuring the device's own
// cost: the tests' fake line keeping only the count of each call (CTS and DSR
// on, a byte always waiting when a benchmark receives), and a host timer that
// only adds up the periods it is given.
#pragma once

#include <cstdint>

#include "device/Host.h"
#include "device/Platform.h"
#include "device/Rs232cDevice.h"
#include "tests/support/FakeLine.h"

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

// A device wired to the line and timer above, with the settings given, its
// line programmed by mode byte `mode` and command `command` (0x37:
// transmitter and receiver on, DTR and RTS).
inline void startDevice(Rs232cDevice& device, FakeLines& lines, const LineSettings& settings, std::uint8_t mode,
                        std::uint8_t command = 0x37)
{
    lines.setInputs(ModemInputs{true, true, false, false});
    device.construct(Platform{&lines, nullptr, nullptr});
    device.lendHost(HostLinks{&BenchTimer::instance(), nullptr});
    device.setSystemClock(2457600);
    device.timer2Changed(16);
    device.storeSettings(settings, true);
    device.writeModeCommand(mode);
    device.writeModeCommand(command);
}
