// What the device itself costs per tick and per guest access, over a port that
// costs nothing, and how many port calls each makes: where port calls are
// dear (under Wine they take microseconds each), that count decides whether
// the device keeps pace with the line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/BenchPlatform.h"
#include "device/LineSettings.h"

namespace {
const char* const kCallNames[BenchPort::kOpCount] = {
    "CreateFile", "CloseHandle", "GetCommState", "SetCommState", "SetCommTimeouts", "SetCommMask",
    "PurgeComm", "EscapeCommFunction", "GetCommModemStatus", "ClearCommError", "ReadFile", "WriteFile",
};

// A device whose line runs at 9600 baud, 8N1 (mode byte 0x4E with the system
// clock 2457600 and Timer2 count 16), transmitter and receiver enabled.
class BenchDevice {
public:
    explicit BenchDevice(bool withPort = true)
    {
        LineSettings settings{};
        settings.baudRate = 9600;
        settings.byteSize = 8;
        std::snprintf(settings.portName, sizeof settings.portName, "COM1");
        port.opens = withPort;
        startDevice(device, port, settings, 0x4E);
        port.calls = {};
        BenchTimer::clear();
    }
    ~BenchDevice() { device.destroy(); }

    // Port and timer calls per iteration, as counters; the port calls by name
    // as the label.
    void report(benchmark::State& state) const
    {
        const double iterations = static_cast<double>(state.iterations());
        state.counters["port_calls"] = static_cast<double>(port.totalCalls()) / iterations;
        state.counters["timer_calls"] = static_cast<double>(BenchTimer::calls) / iterations;
        std::string label;
        for (int op = 0; op < BenchPort::kOpCount; ++op) {
            if (port.calls[op] == 0) continue;
            char part[64];
            std::snprintf(part, sizeof part, "%s%s %.3g", label.empty() ? "" : ", ", kCallNames[op],
                          static_cast<double>(port.calls[op]) / iterations);
            label += part;
        }
        state.SetLabel(label.empty() ? "no port calls" : label);
    }

    BenchPort port;
    Rs232cDevice device;
};

// Nothing to receive, nothing to send: the cost of every tick on a quiet line.
void IdleTick(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) bench.device.tick();
    bench.report(state);
}
BENCHMARK(IdleTick);

// The port could not be opened: the timer still ticks, with nothing to do.
void IdleTickWithoutPort(benchmark::State& state)
{
    BenchDevice bench(false);
    for (auto _ : state) bench.device.tick();
    bench.report(state);
}
BENCHMARK(IdleTickWithoutPort);

// A byte waits on the line at every tick and the guest has taken the last one
// (the receive latch is cleared directly, keeping the guest's read out of the
// figure).
void ReceivingTick(benchmark::State& state)
{
    BenchDevice bench;
    bench.port.receiving = true;
    for (auto _ : state) {
        bench.device.tick();
        bench.device.chip.rxReady = 0;
    }
    bench.report(state);
}
BENCHMARK(ReceivingTick);

// The guest keeps the transmitter busy: every tick sends the shift register
// and moves the next byte on from the holding register (filled directly,
// keeping the guest's write out of the figure).
void SendingTick(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) {
        bench.device.chip.txHolding = 0x41;
        bench.device.chip.txHoldingFull = 1;
        bench.device.tick();
    }
    bench.report(state);
}
BENCHMARK(SendingTick);

// A mode byte on an open port: escapes, DCB read and write, purge, re-arm.
void ModeByte(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) {
        bench.device.chip.programState = kExpectMode;
        bench.device.writeModeCommand(0x4E);
    }
    bench.report(state);
}
BENCHMARK(ModeByte);

// The guest polling the status register (also the panel's refresh read).
void ReadStatus(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) benchmark::DoNotOptimize(bench.device.readStatus());
    bench.report(state);
}
BENCHMARK(ReadStatus);
}  // namespace

BENCHMARK_MAIN();
