// Long-run pacing of the character timer. Over ten million ticks at each
// standard rate, the periods the device gives the host timer must add up to
// the exact time of that many characters, bits x 100000 / rate x ticks timer
// units, within one unit: the fraction each period loses is carried into the
// next. Prints the figures and exits with 1 when a rate drifts further.
//
// Usage: pacing_check [ticks]   (default 10000000)
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/BenchPlatform.h"
#include "device/LineSettings.h"

namespace {
// Character formats, from the user's locked settings; bits counted as the
// timer counts them (data, parity, stop; no start bit), in halves.
struct Format {
    const char* name;
    bool lineOpens;
    int parity, stopBits, byteSize;
    std::int64_t halfBits;
};
const Format kFormats[] = {
    {"no line", false, 0, 0, 8, 16},
    {"8N1", true, 0, 0, 8, 18},
    {"7E2", true, 2, 2, 7, 20},
    {"5N1.5", true, 0, 1, 5, 13},
};

struct Outcome {
    std::uint64_t periods;
    std::uint64_t periodSum;
};

Outcome run(const Format& format, std::uint32_t rate, std::uint64_t ticks)
{
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.lock = 1;
    settings.baudRate = static_cast<std::int32_t>(rate);
    settings.parity = format.parity;
    settings.stopBits = format.stopBits;
    settings.byteSize = format.byteSize;
    std::strcpy(settings.portName, "COM1");

    FakeLines lines{FakeLines::Keeping::Counts};
    lines.fail(LineOp::Open, !format.lineOpens);
    Rs232cDevice device;
    BenchTimer::clear();
    startDevice(device, lines, settings, 0x4E);  // the mode byte sets the first period
    for (std::uint64_t tick = 1; tick < ticks; ++tick) device.tick();
    device.destroy();
    return Outcome{BenchTimer::periods, BenchTimer::periodSum};
}
}  // namespace

int main(int argc, char** argv)
{
    const std::uint64_t ticks = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
    bool allWithin = true;
    std::printf("%-8s %7s %5s %10s %16s %20s %10s\n", "format", "rate", "bits", "ticks", "sum of periods",
                "exact", "drift");
    for (const Format& format : kFormats) {
        for (int i = 0; i < kStandardRateCount; ++i) {
            const std::uint32_t rate = StandardRates[i];
            const Outcome outcome = run(format, rate, ticks);
            // exact = halfBits / 2 * 100000 * periods / rate, kept as a fraction
            const std::int64_t denominator = 2 * static_cast<std::int64_t>(rate);
            const std::int64_t numerator = format.halfBits * 100000 * static_cast<std::int64_t>(outcome.periods);
            const std::int64_t driftScaled = static_cast<std::int64_t>(outcome.periodSum) * denominator - numerator;
            const bool within = outcome.periods == ticks && std::llabs(driftScaled) <= denominator;
            allWithin = allWithin && within;
            std::printf("%-8s %7" PRIu32 " %5.1f %10" PRIu64 " %16" PRIu64 " %20.3f %+10.4f%s\n", format.name, rate,
                        format.halfBits / 2.0, outcome.periods, outcome.periodSum,
                        static_cast<double>(numerator) / static_cast<double>(denominator),
                        static_cast<double>(driftScaled) / static_cast<double>(denominator),
                        within ? "" : "  OUT OF BOUNDS");
        }
    }
    std::printf(allWithin ? "every rate within one timer unit\n" : "pacing drifts by more than one timer unit\n");
    return allWithin ? 0 : 1;
}
