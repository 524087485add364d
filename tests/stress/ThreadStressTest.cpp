// Every thread that reaches the device in the host, at once and for a few
// seconds: the guest's port accesses on the emulation thread, the host timer
// firing ticks on its own thread, the panel's refresh reads, the dialog's
// settings, the host's reset, power-off, Timer2 changes, save and load, and
// the far end of the line changing modem signals, errors and input, with the
// line monitor on (its writer thread, and a session for each line opened). Under
// ThreadSanitizer a data race fails the run; everywhere, a lock taken out of
// order or an operation that never returns (a deadlock) fails it.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "device/Rs232cDevice.h"
#include "platform/monitor/MonitoredCatalog.h"
#include "platform/native/NativeMonitorPlatform.h"
#include "tests/stress/HostTimerThread.h"
#include "tests/support/DeviceFixture.h"
#include "tests/support/FakeLine.h"

namespace {
using Clock = std::chrono::steady_clock;

// An operation still running after this long is taken for a deadlock.
constexpr auto kStallLimit = std::chrono::seconds(10);

std::int64_t nowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

int runSeconds()
{
    const char* text = std::getenv("RS232C_STRESS_SECONDS");
    return text ? std::atoi(text) : 3;
}

std::atomic<int> lockOrderViolations{0};
void countViolation(LockRank, LockRank) { ++lockOrderViolations; }

std::atomic<std::uint64_t> interruptRequests{0};
class CountingInterruptLine final : public InterruptLine {
public:
    void raise() override { ++interruptRequests; }
};

class CountingAlert final : public UserAlert {
public:
    void show(const char*) override { ++shown; }
    std::atomic<int> shown{0};
};

class MonitorOn final : public MonitorSettingsSource, public ::Clock {
public:
    MonitorSettings read() override { return settings; }
    std::uint64_t nowMicroseconds() override { return static_cast<std::uint64_t>(nowNs() / 1000); }
    MonitorSettings settings;
};

class CountingPanel final : public PanelFields {
public:
    void setText(WindowHandle, int, const char*) override { ++writes; }
    std::atomic<int> writes{0};
};

struct Random {
    explicit Random(std::uint32_t seed) : state(seed) {}
    std::uint32_t below(std::uint32_t n)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % n;
    }
    std::uint32_t state;
};

// One thread's progress, watched for operations that never return.
struct Worker {
    explicit Worker(const char* workerName) : name(workerName) {}
    template <typename Operation>
    void step(Operation operation)
    {
        busySince = nowNs();
        operation();
        busySince = 0;
        ++operations;
    }
    const char* name;
    std::atomic<std::int64_t> busySince{0};
    std::atomic<std::uint64_t> operations{0};
};

class ThreadStress : public ::testing::Test {
protected:
    void SetUp() override
    {
        lock_order::setViolationHandler(countViolation);
        char folder[] = "/tmp/rs232c-stress-XXXXXX";
        monitor.settings = MonitorSettings{std::string(mkdtemp(folder)) + "/line.log", "", 1u << 20};
        device.construct(Platform{&monitoredLines, &alert, &panel});
        device.storeSettings(makeSettings("COM1"), true);
        lines.setInputs(kCtsDsrOn);
        timer = std::make_unique<HostTimerThread>(std::chrono::microseconds(1), [this] { device.tick(); });
        device.lendHost(HostLinks{timer.get(), &interruptLine});
        device.setSystemClock(2457600);
        device.setPanel(reinterpret_cast<WindowHandle>(std::uintptr_t{0x1234}));
    }

    void TearDown() override
    {
        device.powerOff();  // the line closes while its catalog exists
        timer.reset();      // no tick may run into a destroyed device
        device.destroy();
        monitorFiles.waitForWriters();
        EXPECT_GT(std::filesystem::file_size(monitor.settings.logPath), 0u);
        std::filesystem::remove_all(std::filesystem::path(monitor.settings.logPath).parent_path());
        lock_order::setViolationHandler(nullptr);
    }

    // The guest's driver: programs the USART the usual way (three zeros and an
    // internal reset reach a mode byte from any state), polls TxRDY and RxRDY,
    // reads the system port and switches interrupts.
    void playGuest(Random& random)
    {
        static const std::uint8_t modes[] = {0x4E, 0x4F, 0x7A, 0xFE, 0x00};
        static const std::uint8_t commands[] = {0x37, 0x27, 0x15, 0x05, 0x33};
        switch (random.below(10)) {
        case 0:
            for (std::uint8_t byte : {0x00, 0x00, 0x00, 0x40}) device.writeModeCommand(byte);
            device.writeModeCommand(modes[random.below(5)]);
            device.writeModeCommand(0x37);
            break;
        case 1: device.writeModeCommand(commands[random.below(5)]); break;
        case 2:
        case 3:
        case 4:
            if (device.readStatus() & kStatusTxReady) device.writeData(static_cast<std::uint8_t>(random.below(256)));
            break;
        case 5:
        case 6:
            if (device.readStatus() & kStatusRxReady) {
                device.readData();
                ++bytesReceived;
            }
            break;
        case 7:
            device.readPortB();
            device.readPortC();
            break;
        case 8: device.writePortC(static_cast<std::uint8_t>(random.below(8))); break;
        default: device.setResetPortC(static_cast<std::uint8_t>(random.below(8))); break;
        }
    }

    // The host's emulation thread outside port accesses.
    void playHost(Random& random, std::array<std::uint8_t, kSnapshotSize>& block, bool& saved)
    {
        static const std::int32_t counts[] = {16, 16, 4, 1, 0, 64, -1, 0x7FFFFFFF};
        switch (random.below(12)) {
        case 0: device.reset(); break;
        case 1: device.powerOff(); break;
        case 2:
        case 3:
        case 4: device.timer2Changed(counts[random.below(8)]); break;
        case 5:
        case 6:
            device.saveSnapshot(block.data());
            saved = true;
            break;
        case 7:
            if (saved) device.loadSnapshot(block.data());
            break;
        default: break;
        }
    }

    // The configuration dialog's OK.
    void playDialog(Random& random)
    {
        static const char* const ports[] = {"COM1", "COM2"};
        device.storeSettings(makeSettings(ports[random.below(2)], static_cast<int>(random.below(2)),
                                          static_cast<int>(StandardRates[random.below(kStandardRateCount)]),
                                          static_cast<int>(random.below(3)), static_cast<int>(random.below(3)),
                                          static_cast<int>(5 + random.below(4))),
                             false);
    }

    // The far end and the line's driver: input, modem inputs, receive errors,
    // a line that goes for a moment, and now and then an operation that fails.
    void playLine(Random& random)
    {
        switch (random.below(8)) {
        case 0:
        case 1:
        case 2:
            if (lines.pendingInput() < 64) lines.receive(std::string(1 + random.below(4), 'U'));
            break;
        case 3: {
            const std::uint32_t bits = random.below(16);
            lines.setInputs(random.below(4) ? ModemInputs{true, true, false, true}
                                            : ModemInputs{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0});
            break;
        }
        case 4: lines.addErrors(static_cast<std::uint8_t>(random.below(8))); break;
        case 5: {
            const LineOp op = static_cast<LineOp>(random.below(static_cast<std::uint32_t>(LineOp::Restored) + 1));
            if (op == LineOp::State) {
                lines.setState(LineState::Gone);
            } else {
                lines.fail(op);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            lines.setState(LineState::Open);
            lines.fail(op, false);
            break;
        }
        default: lines.clearLog(); break;  // the fake logs every call: keep it small
        }
    }

    FakeLines lines;
    CountingAlert alert;
    MonitorOn monitor;
    NativeMonitorPlatform monitorFiles;
    MonitoredCatalog monitoredLines{lines, monitor, MonitorServices{&monitorFiles, &monitor, &alert, "stress"}};
    CountingPanel panel;
    Rs232cDevice device;
    std::unique_ptr<HostTimerThread> timer;
    CountingInterruptLine interruptLine;
    std::atomic<std::uint64_t> bytesReceived{0};
};

TEST_F(ThreadStress, NoRaceNoLockInversionNoDeadlock)
{
    Worker guest("guest"), host("host"), panelRefresh("panel refresh"), dialog("dialog"), line("line");
    std::atomic<bool> stop{false};
    auto loop = [&stop](Worker& worker, std::uint32_t seed, std::chrono::microseconds pause, auto play) {
        return std::thread([&stop, &worker, seed, pause, play]() mutable {
            Random random(seed);
            while (!stop) {
                worker.step([&] { play(random); });
                if (pause.count() > 0) std::this_thread::sleep_for(pause);
            }
        });
    };
    std::array<std::uint8_t, kSnapshotSize> block{};
    bool saved = false;
    std::vector<std::thread> threads;
    threads.push_back(loop(guest, 1, std::chrono::microseconds(0), [this](Random& r) { playGuest(r); }));
    threads.push_back(loop(host, 2, std::chrono::microseconds(500),
                           [this, &block, &saved](Random& r) { playHost(r, block, saved); }));
    threads.push_back(loop(panelRefresh, 3, std::chrono::microseconds(200), [this](Random&) {
        device.readStatus();
        device.readPortB();
    }));
    threads.push_back(loop(dialog, 4, std::chrono::milliseconds(2), [this](Random& r) { playDialog(r); }));
    threads.push_back(loop(line, 5, std::chrono::microseconds(100), [this](Random& r) { playLine(r); }));

    // Watchdog: a thread inside one operation for too long is deadlocked, and
    // the deadlocked threads could never be joined, so the run ends here.
    const Worker* workers[] = {&guest, &host, &panelRefresh, &dialog, &line};
    const auto deadline = Clock::now() + std::chrono::seconds(runSeconds());
    const std::int64_t stallLimit = std::chrono::duration_cast<std::chrono::nanoseconds>(kStallLimit).count();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::int64_t now = nowNs();
        for (const Worker* worker : workers) {
            const std::int64_t since = worker->busySince;
            if (since != 0 && now - since > stallLimit) {
                std::fprintf(stderr, "the %s thread has been stuck in one operation for %d s: deadlock\n", worker->name,
                             static_cast<int>(kStallLimit.count()));
                std::abort();
            }
        }
        const std::int64_t tickSince = timer->tickBusySince();
        if (tickSince != 0 && now - tickSince > stallLimit) {
            std::fprintf(stderr, "a tick has been running for %d s: deadlock\n", static_cast<int>(kStallLimit.count()));
            std::abort();
        }
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();

    std::printf("%llu ticks, %llu bytes sent, %llu received, %llu interrupt requests, %d message boxes\n",
                static_cast<unsigned long long>(timer->ticks()), static_cast<unsigned long long>(lines.written().size()),
                static_cast<unsigned long long>(bytesReceived.load()),
                static_cast<unsigned long long>(interruptRequests.load()), alert.shown.load());
    for (const Worker* worker : workers)
        std::printf("  %-13s %llu operations\n", worker->name, static_cast<unsigned long long>(worker->operations.load()));

    EXPECT_EQ(lockOrderViolations, 0);
    EXPECT_EQ(timer->faultyCalls(), 0) << "timer calls without the timer lock or with a period below 1";
    for (const Worker* worker : workers) EXPECT_GT(worker->operations, 10u) << worker->name << " made no progress";
    // The run did what it is for: the timer ticked and data moved both ways.
    EXPECT_GT(timer->ticks(), 100u);
    EXPECT_GT(lines.written().size(), 0u);
    EXPECT_EQ(lines.breaches(), std::vector<std::string>{}) << "the device broke a rule of the line seam";
    EXPECT_GT(bytesReceived, 0u);
}
}  // namespace
