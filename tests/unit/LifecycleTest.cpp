// Machine reset, power-off, the two settings copies and the panel figures.
#include <algorithm>
#include <ostream>
#include <vector>

#include "tests/support/DeviceFixture.h"

namespace {
class Lifecycle : public DeviceTest {
protected:
    // COM1 at 9600 baud (2457600 / (16 * 16)), everything enabled and busy.
    void runningLine()
    {
        loadSettings(makeSettings("COM1"));
        port.setModemLines(kModemCtsOn | kModemDsrOn);
        programAsync(0x4E, 2457600, 16);
        ASSERT_TRUE(device.portOpen());
        device.writeModeCommand(0x37);
        device.writePortC(0x07);
        device.writeData('A');
        port.addLineErrors(kLineErrorParity);
        ASSERT_EQ(device.readStatus(), 0x88);
    }

    // The fields written, each as often as it was written; the panel shows
    // them all together, so their order is nothing the user sees.
    std::vector<int> panelFieldsWritten() const
    {
        std::vector<int> ids;
        for (const auto& write : panel.writes()) ids.push_back(write.first);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
};

TEST_F(Lifecycle, ResetKeepsThePortOpenAndPurgesIt)
{
    runningLine();
    showPanel();
    const PortHandle handle = device.portHandle;
    panel.clear();
    port.clearCalls();
    host.clearTimerCalls();

    device.reset();

    EXPECT_EQ(device.chip.status, 0x05);
    EXPECT_EQ(device.chip.intMask, 0);
    EXPECT_EQ(device.chip.portB, 0x00);
    EXPECT_EQ(device.chip.programState, kExpectMode);
    EXPECT_EQ(device.chip.txEnable, 0);
    EXPECT_EQ(device.chip.rxEnable, 0);
    EXPECT_EQ(device.portHandle, handle);
    EXPECT_TRUE(port.isOpen(handle));
    EXPECT_EQ(port.log(), std::vector<std::string>{"Purge 0xF"});

    // The timer keeps its schedule, the line figures their values.
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_TRUE(host.running());
    EXPECT_EQ(device.timer2Count, 16);
    EXPECT_EQ(device.baudFactor, 16u);
    EXPECT_EQ(device.computedBaud, 9600u);
    EXPECT_EQ(device.modeByte, 0x4E);

    EXPECT_EQ(panelFieldsWritten(), (std::vector<int>{kFieldComputedSpeed, kFieldActualSpeed, kFieldTimer2Count,
                                                      kFieldSystemClock, kFieldDivider}));
    EXPECT_EQ(panel.latest(kFieldSystemClock), "2457600");
    EXPECT_EQ(panel.latest(kFieldDivider), "1/16");

    // The guest sees an idle USART that takes its next byte as a mode byte.
    EXPECT_EQ(device.readPortC(), 0);
    EXPECT_EQ(device.readStatus(), 0x85);
    device.writeModeCommand(0x4F);
    EXPECT_EQ(device.baudFactor, 64u);
}

TEST_F(Lifecycle, ResetWithoutAPortTouchesNoPort)
{
    device.reset();
    EXPECT_EQ(port.callCount(), 0u);
    EXPECT_EQ(device.readStatus(), 0x05);
}

TEST_F(Lifecycle, PowerOffClosesThePortAndHaltsTheTimer)
{
    runningLine();
    const PortHandle handle = device.portHandle;
    host.clearTimerCalls();

    device.powerOff();

    EXPECT_EQ(device.chip.status, 0x04);
    EXPECT_EQ(device.chip.portB, 0xE0);
    EXPECT_EQ(device.chip.intMask, 0);
    EXPECT_EQ(device.chip.programState, kExpectMode);
    EXPECT_FALSE(device.portOpen());
    EXPECT_FALSE(port.isOpen(handle));
    EXPECT_EQ(port.callsOf(PortOp::Close).size(), 1u);
    EXPECT_EQ(host.timerOps(), std::vector<TimerOp>{TimerOp::Halt});
    EXPECT_FALSE(host.running());

    // With no port the line reads as all signals off and nothing asks the port;
    // the status read rebuilds TxRDY from the emptied holding register.
    const std::size_t callsBefore = port.callCount();
    EXPECT_EQ(device.readStatus(), 0x05);
    EXPECT_EQ(device.readPortB(), 0xE0);
    EXPECT_EQ(port.callCount(), callsBefore);
}

TEST_F(Lifecycle, TickAlreadyUnderWayAtPowerOffMovesNothingAndReArms)
{
    runningLine();
    port.receive("Z");
    device.powerOff();
    host.clearTimerCalls();
    host.clearIrqs();
    const std::size_t callsBefore = port.callCount();

    device.tick();  // the host had started it before the halt

    EXPECT_EQ(port.callCount(), callsBefore);
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(host.irqCount(), 0);
    // 8 bits at 9600 baud: 83.33 units, plus the fraction carried from the last period.
    const std::int32_t period = host.currentPeriod();
    EXPECT_TRUE(period == 83 || period == 84) << period;
    EXPECT_TRUE(host.running());
}

TEST_F(Lifecycle, StoringOnlyTheConfiguredCopyLeavesTheAppliedOneAlone)
{
    const LineSettings fromFile = makeSettings("COM1", 0, 9600);
    const LineSettings fromDialog = makeSettings("COM3", 1, 38400, 2, 2, 7);
    loadSettings(fromFile);
    device.storeSettings(fromDialog, false);

    EXPECT_EQ(std::memcmp(&device.configuredSettings, &fromDialog, sizeof fromDialog), 0);
    EXPECT_EQ(std::memcmp(&device.appliedSettings, &fromFile, sizeof fromFile), 0);

    // The panel's actual speed follows the applied copy: unlocked, speed 0 gives 300.
    showPanel();
    device.reset();
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "300");

    device.storeSettings(fromDialog, true);
    EXPECT_EQ(std::memcmp(&device.appliedSettings, &fromDialog, sizeof fromDialog), 0);
}

// ---- The panel figures ----

struct PanelCase {
    const char* name;
    std::uint32_t clock;
    std::int32_t count;
    std::uint32_t factor;
    LineSettings applied;
    std::vector<std::string> texts;  // fields 1013, 1007, 1008, 1014, 1011
};
void PrintTo(const PanelCase& c, std::ostream* os) { *os << c.name; }

class PanelFigures : public Lifecycle, public ::testing::WithParamInterface<PanelCase> {};

TEST_P(PanelFigures, ShowTheLineAsReset)
{
    const PanelCase& c = GetParam();
    loadSettings(c.applied);
    showPanel();
    {
        ScopedLock lock(device.deviceLock);
        device.systemClock = c.clock;
        device.timer2Count = c.count;
        device.baudFactor = c.factor;
    }
    device.reset();
    std::vector<std::string> texts;
    for (int id : {1013, 1007, 1008, 1014, 1011}) texts.push_back(panel.latest(id));
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(panel.writes().size(), 5u);
    EXPECT_EQ(device.timer2Count, c.count);  // shown as 1 is not stored as 1
}

INSTANTIATE_TEST_SUITE_P(
    Figures, PanelFigures,
    ::testing::Values(
        PanelCase{"Standard", 2457600, 16, 16, makeSettings(), {"2457600", "9600", "9600", "1/16", "16"}},
        PanelCase{"ZeroCountDividesBy1", 2457600, 0, 16, makeSettings(), {"2457600", "153600", "115200", "1/16", "0"}},
        PanelCase{"Factor64RoundsUp", 3993600, 2, 64, makeSettings(), {"3993600", "31200", "38400", "1/64", "2"}},
        PanelCase{"LockedRateWins", 2457600, 16, 1, makeSettings("COM1", 1, 19200),
                  {"2457600", "153600", "19200", "1/1", "16"}},
        PanelCase{"NoClockYet", 0, 4, 1, makeSettings(), {"0", "0", "300", "1/1", "4"}}),
    [](const ::testing::TestParamInfo<PanelCase>& info) { return std::string(info.param.name); });

TEST_F(Lifecycle, NegativeTimer2CountShowsAsItsUnsignedValue)
{
    showPanel();
    {
        ScopedLock lock(device.deviceLock);
        device.systemClock = 2457600;
        device.timer2Count = -1;
    }
    device.reset();
    EXPECT_EQ(panel.latest(kFieldTimer2Count), "4294967295");
}

TEST_F(Lifecycle, WithoutAPanelNoFieldIsWritten)
{
    loadSettings(makeSettings("COM1"));
    programAsync(0x4E, 2457600, 16);
    device.timer2Changed(8);
    device.reset();
    EXPECT_TRUE(panel.writes().empty());
}

// ---- Host functions not yet handed over ----

class HostNotAttached : public DeviceTest {
protected:
    // As at module load: the device exists, DeviceEntry has not run.
    void SetUp() override
    {
        lock_order::setViolationHandler(failOnLockOrderViolation);
        device.construct(Platform{&port, &alert, &panel});
    }
};

TEST_F(HostNotAttached, TimerAndInterruptCallsDoNothing)
{
    device.writePortC(0x02);  // would raise: both transmit registers empty
    loadSettings(makeSettings("COM1"));
    port.setModemLines(kModemCtsOn);
    programAsync(0x4E, 2457600, 16);  // would re-arm
    device.writeModeCommand(0x37);
    device.writeData('A');
    device.tick();
    device.powerOff();  // would halt
    EXPECT_EQ(host.irqCount(), 0);
    EXPECT_TRUE(host.timerCalls().empty());
}

// ---- The rate rule ----

struct RateCase {
    std::int32_t lock;
    std::int32_t baudRate;
    std::uint32_t computed;
    std::uint32_t rate;
};
void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << "lock " << c.lock << ", rate " << c.baudRate << ", computed " << c.computed;
}

class SelectRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(SelectRate, PicksTheStandardRate)
{
    const RateCase& c = GetParam();
    EXPECT_EQ(selectRate(makeSettings("COM1", c.lock, c.baudRate), c.computed), c.rate);
}

INSTANTIATE_TEST_SUITE_P(
    Unlocked, SelectRate,
    ::testing::Values(RateCase{0, 19200, 0, 300}, RateCase{0, 19200, 301, 600}, RateCase{0, 19200, 1200, 1200},
                      RateCase{0, 19200, 1201, 2400}, RateCase{0, 19200, 9600, 9600}, RateCase{0, 19200, 9601, 19200},
                      RateCase{0, 19200, 115200, 115200}, RateCase{0, 19200, 115201, 115200},
                      RateCase{0, 19200, 0xFFFFFFFFu, 115200}, RateCase{2, 19200, 4800, 4800},
                      RateCase{-1, 300, 57600, 57600}));

INSTANTIATE_TEST_SUITE_P(
    Locked, SelectRate,
    ::testing::Values(RateCase{1, 19200, 0, 19200}, RateCase{1, 19200, 9600, 19200}, RateCase{1, 19200, 200000, 19200},
                      RateCase{1, 300, 115200, 300}, RateCase{1, 0, 9600, 115200}, RateCase{1, 12345, 300, 115200},
                      RateCase{1, -1, 300, 115200}));
}  // namespace
