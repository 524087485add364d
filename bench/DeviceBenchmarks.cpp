// What the device itself costs per tick and per guest access, over a line that
// costs nothing, and how many line calls each makes: where line calls are
// dear (a COM port under Wine takes microseconds for each), that count
// decides whether the device keeps pace with the line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/BenchPlatform.h"
#include "device/LineSettings.h"

namespace {
const char* const kCallNames[kLineOpCount] = {
    "open", "close", "reachesOutside", "state", "prepare", "service", "setFormat", "setRate", "readFormat",
    "setControl", "readInputs", "pollErrors", "readByte", "writeByte", "discard", "restored",
};

// A device whose line runs at 9600 baud, 8N1 (mode byte 0x4E with the system
// clock 2457600 and Timer2 count 16), transmitter and receiver enabled unless
// another command is given.
class BenchDevice {
public:
    explicit BenchDevice(bool withLine = true, std::uint8_t command = 0x37)
    {
        LineSettings settings{};
        settings.baudRate = 9600;
        settings.byteSize = 8;
        std::snprintf(settings.portName, sizeof settings.portName, "COM1");
        lines.fail(LineOp::Open, !withLine);
        startDevice(device, lines, settings, 0x4E, command);
        lines.clearLog();
        BenchTimer::clear();
    }
    ~BenchDevice() { device.destroy(); }

    // Line and timer calls per iteration, as counters; the line calls by name
    // as the label.
    void report(benchmark::State& state) const
    {
        const double iterations = static_cast<double>(state.iterations());
        state.counters["line_calls"] = static_cast<double>(lines.callCount()) / iterations;
        state.counters["timer_calls"] = static_cast<double>(BenchTimer::calls) / iterations;
        std::string label;
        for (int op = 0; op < kLineOpCount; ++op) {
            const std::size_t calls = lines.countOf(static_cast<LineOp>(op));
            if (calls == 0) continue;
            char part[64];
            std::snprintf(part, sizeof part, "%s%s %.3g", label.empty() ? "" : ", ", kCallNames[op],
                          static_cast<double>(calls) / iterations);
            label += part;
        }
        state.SetLabel(label.empty() ? "no line calls" : label);
    }

    FakeLines lines{FakeLines::Keeping::Counts};
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

// The line could not be opened: the timer still ticks, with nothing to do.
void IdleTickWithoutPort(benchmark::State& state)
{
    BenchDevice bench(false);
    for (auto _ : state) bench.device.tick();
    bench.report(state);
}
BENCHMARK(IdleTickWithoutPort);

// A byte waits on the line at every tick and is read from it; the receiver
// is disabled, so the byte is dropped and the receive buffer stays free
// without a guest's read in the figure.
void ReceivingTick(benchmark::State& state)
{
    BenchDevice bench(true, 0x33);
    bench.lines.receiveForever(0x55);
    for (auto _ : state) bench.device.tick();
    bench.report(state);
}
BENCHMARK(ReceivingTick);

// The guest keeps the transmitter busy: it writes a byte before every tick,
// and every tick sends the shift register and moves that byte on from the
// holding register. The figure is the guest's write and the tick together.
void SendingTick(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) {
        bench.device.writeData(0x41);
        bench.device.tick();
    }
    bench.report(state);
}
BENCHMARK(SendingTick);

// A guest reprogramming an open line: the internal reset, then the mode byte
// (controls, format, discard, re-arm).
void ModeByte(benchmark::State& state)
{
    BenchDevice bench;
    for (auto _ : state) {
        bench.device.writeModeCommand(0x40);
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
