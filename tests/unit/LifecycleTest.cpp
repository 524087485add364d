// Machine reset, power-off, the two settings copies, the panel figures, the
// host's services before they are lent, and the rate rule.
#include <algorithm>
#include <ostream>
#include <vector>

#include "tests/support/DeviceFixture.h"

namespace {
class Lifecycle : public DeviceTest {
protected:
    // COM1 at 9600 baud, everything enabled and busy, a parity error latched.
    void runningLine()
    {
        programmed(0x37);
        device.writePortC(0x07);
        device.writeData('A');
        lines.addErrors(kLineErrorParity);
        ASSERT_EQ(device.readStatus(), 0x88);
    }
};

TEST_F(Lifecycle, ResetKeepsTheLineOpenAndDiscardsWhatWaits)
{
    runningLine();
    showPanel();
    panel.clear();
    mark();
    host.clearTimerCalls();

    device.reset();

    const ChipRegisters registers = chip();
    EXPECT_EQ(registers.status, 0x05);
    EXPECT_EQ(registers.intMask, 0);
    EXPECT_EQ(registers.portB, 0x00);
    EXPECT_EQ(registers.programState, kExpectMode);
    EXPECT_EQ(registers.txEnable, 0);
    EXPECT_EQ(registers.rxEnable, 0);
    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"Discard"});
    EXPECT_EQ(lines.linesAlive(), 1);

    // The timer keeps its schedule, the line figures their values.
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_TRUE(host.running());
    const DeviceState after = state();
    EXPECT_EQ(after.timer2Count, 16);
    EXPECT_EQ(after.baudFactor, 16u);
    EXPECT_EQ(after.computedBaud, 9600u);
    EXPECT_EQ(after.modeByte, 0x4E);

    // The panel shows all five figures together.
    std::vector<int> fields;
    for (const auto& write : panel.writes()) fields.push_back(write.first);
    std::sort(fields.begin(), fields.end());
    EXPECT_EQ(fields, (std::vector<int>{kFieldComputedSpeed, kFieldActualSpeed, kFieldTimer2Count, kFieldSystemClock,
                                        kFieldDivider}));
    EXPECT_EQ(panel.latest(kFieldSystemClock), "2457600");
    EXPECT_EQ(panel.latest(kFieldDivider), "1/16");

    // The guest sees an idle USART that takes its next byte as a mode byte.
    EXPECT_EQ(device.readPortC(), 0);
    EXPECT_EQ(device.readStatus(), 0x85);
    device.writeModeCommand(0x4F);
    EXPECT_EQ(state().baudFactor, 64u);
}

TEST_F(Lifecycle, ResetWithoutALineTouchesNoLine)
{
    device.reset();
    EXPECT_EQ(lines.callCount(), 0u);
    EXPECT_EQ(device.readStatus(), 0x05);
}

TEST_F(Lifecycle, PowerOffClosesTheLineAndHaltsTheTimer)
{
    runningLine();
    mark();
    host.clearTimerCalls();

    device.powerOff();

    const ChipRegisters registers = chip();
    EXPECT_EQ(registers.status, 0x04);
    EXPECT_EQ(registers.portB, 0xE0);
    EXPECT_EQ(registers.intMask, 0);
    EXPECT_EQ(registers.programState, kExpectMode);
    EXPECT_EQ(registers.portReady, 0);
    EXPECT_FALSE(state().lineOpen);
    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"Close"});
    EXPECT_EQ(lines.linesAlive(), 0);
    EXPECT_EQ(host.timerOps(), std::vector<TimerOp>{TimerOp::Halt});
    EXPECT_FALSE(host.running());

    // Without a line every signal reads as off and nothing asks a line; the
    // status read rebuilds TxRDY from the emptied holding register.
    EXPECT_EQ(device.readStatus(), 0x05);
    EXPECT_EQ(device.readPortB(), 0xE0);
    EXPECT_EQ(logSinceMark().size(), 1u);
}

TEST_F(Lifecycle, TickAlreadyUnderWayAtPowerOffMovesNothingAndReArms)
{
    runningLine();
    lines.receive("Z");
    device.powerOff();
    host.clearTimerCalls();
    host.clearIrqs();
    mark();

    device.tick();  // the host had started it before the halt

    EXPECT_TRUE(logSinceMark().empty());
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

    DeviceState stored = state();
    EXPECT_EQ(std::memcmp(&stored.configuredSettings, &fromDialog, sizeof fromDialog), 0);
    EXPECT_EQ(std::memcmp(&stored.appliedSettings, &fromFile, sizeof fromFile), 0);

    // The panel's actual speed follows the applied copy: unlocked, speed 0 gives 300.
    showPanel();
    device.reset();
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "300");

    device.storeSettings(fromDialog, true);
    stored = state();
    EXPECT_EQ(std::memcmp(&stored.appliedSettings, &fromDialog, sizeof fromDialog), 0);
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

TEST_P(PanelFigures, ShowTheLineAsRestored)
{
    const PanelCase& c = GetParam();
    loadSettings(c.applied);
    device.setSystemClock(c.clock);
    Block block = save();
    putBlock(block, snapshot_offset::timer2Count, static_cast<std::uint32_t>(c.count));
    putBlock(block, snapshot_offset::baudFactor, c.factor);
    showPanel();

    ASSERT_EQ(load(block), 1);  // the line was not in use: only the figures come back

    std::vector<std::string> texts;
    for (int id : {1013, 1007, 1008, 1014, 1011}) texts.push_back(panel.latest(id));
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(panel.writes().size(), 5u);
    EXPECT_EQ(state().timer2Count, c.count);  // shown as 1 is not stored as 1
}

INSTANTIATE_TEST_SUITE_P(
    Figures, PanelFigures,
    ::testing::Values(
        PanelCase{"Standard", 2457600, 16, 16, makeSettings(), {"2457600", "9600", "9600", "1/16", "16"}},
        PanelCase{"ZeroCountDividesBy1", 2457600, 0, 16, makeSettings(),
                  {"2457600", "153600", "115200", "1/16", "0"}},
        PanelCase{"Factor64RoundsUp", 3993600, 2, 64, makeSettings(), {"3993600", "31200", "38400", "1/64", "2"}},
        PanelCase{"LockedRateWins", 2457600, 16, 1, makeSettings("COM1", 1, 19200),
                  {"2457600", "153600", "19200", "1/1", "16"}},
        PanelCase{"NoClockYet", 0, 4, 1, makeSettings(), {"0", "0", "300", "1/1", "4"}},
        PanelCase{"NegativeCountShowsUnsigned", 2457600, -1, 1, makeSettings(),
                  {"2457600", "0", "300", "1/1", "4294967295"}}),
    [](const ::testing::TestParamInfo<PanelCase>& info) { return std::string(info.param.name); });

TEST_F(Lifecycle, WithoutAPanelNoFieldIsWritten)
{
    loadSettings(makeSettings("COM1"));
    programAsync(0x4E);
    device.timer2Changed(8);
    device.reset();
    EXPECT_TRUE(panel.writes().empty());
}

TEST_F(Lifecycle, APanelThatGoesIsForgottenButAnotherIsKept)
{
    showPanel();
    device.clearPanel(reinterpret_cast<WindowHandle>(std::uintptr_t{0x9999}));  // some other window
    device.timer2Changed(8);
    EXPECT_EQ(panel.latest(kFieldTimer2Count), "8");
    device.clearPanel(fakePanelWindow());
    panel.clear();
    device.timer2Changed(9);
    EXPECT_TRUE(panel.writes().empty());
}

// ---- Host services not yet lent ----

class HostNotLent : public DeviceTest {
protected:
    // As at module load: the device exists, DeviceEntry has not run.
    void SetUp() override
    {
        lock_order::setViolationHandler(failOnLockOrderViolation);
        device.construct(Platform{&lines, &alert, &panel});
    }
};

TEST_F(HostNotLent, TimerAndInterruptCallsDoNothing)
{
    device.writePortC(0x02);  // would raise: both transmit registers empty
    EXPECT_FALSE(device.acquireTimer());
    programmed(0x37);  // would re-arm
    device.writeData('A');
    device.tick();
    device.powerOff();  // would halt
    EXPECT_EQ(host.irqCount(), 0);
    EXPECT_TRUE(host.timerCalls().empty());
}

TEST_F(Lifecycle, AcquiringTheTimerAsksTheHostOnce)
{
    EXPECT_TRUE(device.acquireTimer());
    host.setAcquireResult(false);
    EXPECT_FALSE(device.acquireTimer());
    EXPECT_EQ(host.timerOps(), (std::vector<TimerOp>{TimerOp::Acquire, TimerOp::Acquire}));
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
