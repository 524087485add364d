// The cheapest platform the device can run on, for measuring the device's own
// cost: a line that always succeeds (CTS and DSR on, a byte always waiting
// when asked to receive) and counts the calls made of it, and a host timer
// that only adds up the periods it is given.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "device/Host.h"
#include "device/Line.h"
#include "device/Platform.h"
#include "device/Rs232cDevice.h"

// The catalog and the one line it opens; the counts outlive the line.
class BenchLines final : public LineCatalog {
public:
    enum Op { kOpen, kState, kPrepare, kSetFormat, kSetRate, kReadFormat, kSetControl, kReadInputs, kPollErrors,
              kRead, kWrite, kDiscard, kOpCount };

    bool opens = true;       // false: every open fails, the device runs without a line
    bool receiving = false;  // true: a byte is always waiting on the line
    std::array<std::uint64_t, kOpCount> calls{};
    LineFormat format{9600, 8, Parity::None, StopBits::One, false};

    std::uint64_t totalCalls() const
    {
        std::uint64_t total = 0;
        for (std::uint64_t count : calls) total += count;
        return total;
    }
    bool counted(Op op) { return ++calls[op], true; }

    std::unique_ptr<Line> open(const char*) override;
    bool reachesOutside(const char*) override { return false; }
};

class BenchLine final : public Line {
public:
    explicit BenchLine(BenchLines& lines) : lines_(lines) {}
    std::uint32_t features() const override { return kLineHasFormat | kLineHasControls | kLineHasBreak; }
    LineState state() override { return lines_.counted(BenchLines::kState), LineState::Open; }
    void prepare() override { lines_.counted(BenchLines::kPrepare); }
    bool setFormat(const LineFormat& format) override
    {
        lines_.format = format;
        return lines_.counted(BenchLines::kSetFormat);
    }
    bool setRate(std::uint32_t rate) override
    {
        lines_.format.rate = rate;
        return lines_.counted(BenchLines::kSetRate);
    }
    bool readFormat(LineFormat& format) override
    {
        format = lines_.format;
        return lines_.counted(BenchLines::kReadFormat);
    }
    bool setControl(Control, bool) override { return lines_.counted(BenchLines::kSetControl); }
    bool readInputs(ModemInputs& inputs) override
    {
        inputs = ModemInputs{true, true, false, false};
        return lines_.counted(BenchLines::kReadInputs);
    }
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override
    {
        errors = 0;
        waiting = lines_.receiving ? 1 : 0;
        return lines_.counted(BenchLines::kPollErrors);
    }
    bool readByte(std::uint8_t& byte) override
    {
        byte = 0x55;
        lines_.counted(BenchLines::kRead);
        return lines_.receiving;
    }
    bool writeByte(std::uint8_t) override { return lines_.counted(BenchLines::kWrite); }
    void discard() override { lines_.counted(BenchLines::kDiscard); }

private:
    BenchLines& lines_;
};

inline std::unique_ptr<Line> BenchLines::open(const char*)
{
    counted(kOpen);
    return opens ? std::make_unique<BenchLine>(*this) : nullptr;
}

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
inline void startDevice(Rs232cDevice& device, BenchLines& lines, const LineSettings& settings, std::uint8_t mode,
                        std::uint8_t command = 0x37)
{
    device.construct(Platform{&lines, nullptr, nullptr});
    device.lendHost(HostLinks{&BenchTimer::instance(), nullptr});
    device.setSystemClock(2457600);
    device.timer2Changed(16);
    device.storeSettings(settings, true);
    device.writeModeCommand(mode);
    device.writeModeCommand(command);
}
