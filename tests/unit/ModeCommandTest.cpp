// Port 0x32 writes: the rate and character format a mode byte asks of the
// line, the synchronous sequence, what command bytes do to the line's
// controls and to the chip, and lines that lack a feature.
#include <algorithm>
#include <cstring>
#include <ostream>

#include "tests/support/DeviceFixture.h"

namespace {
class ModeCommand : public DeviceTest {};

struct FormatCase {
    std::uint8_t mode;
    std::int32_t count;
    LineSettings settings;
    std::uint32_t computed;  // kClock / (count * factor)
    const char* format;      // what the line is asked for
};

LineSettings locked38400(int parity, int stopBits, int byteSize)
{
    return makeSettings("COM1", 1, 38400, parity, stopBits, byteSize);
}

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << "mode 0x" << std::hex << int{c.mode} << std::dec << " count " << c.count << (c.settings.lock == 1 ? " locked" : "");
}

class ModeByteFormat : public DeviceTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ModeByteFormat, AsksTheLineForTheRateAndFormat)
{
    const FormatCase& c = GetParam();
    loadSettings(c.settings);
    showPanel();
    programAsync(c.mode, kClock, c.count);

    EXPECT_EQ(lines.log().at(5), std::string("SetFormat ") + c.format);
    EXPECT_EQ(lines.countOf(LineOp::SetFormat), 1u);
    const DeviceState after = state();
    EXPECT_EQ(after.computedBaud, c.computed);
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), std::to_string(c.computed));
    EXPECT_EQ(panel.latest(kFieldActualSpeed), std::to_string(lines.currentFormat().rate));
    EXPECT_EQ(after.chip.programState, kExpectCommand);
    EXPECT_EQ(after.modeByte, c.mode);
}

const LineSettings kUnlocked = makeSettings("COM1");

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeByteFormat,
    ::testing::Values(
        FormatCase{0x4E, 16, kUnlocked, 9600, "9600 8 N 1"},
        FormatCase{0x4E, 15, kUnlocked, 10240, "19200 8 N 1"},   // just above 9600
        FormatCase{0x4D, 16, kUnlocked, 153600, "115200 8 N 1"},  // x1, beyond the top
        FormatCase{0xFE, 16, kUnlocked, 9600, "9600 8 E 2 checked"},
        FormatCase{0x5A, 16, kUnlocked, 9600, "9600 7 O 1 checked"},
        FormatCase{0x83, 16, kUnlocked, 2400, "2400 5 N 1.5"},
        FormatCase{0xCF, 16, kUnlocked, 2400, "2400 8 N 2"},
        FormatCase{0xC3, 16, kUnlocked, 2400, "2400 5 N 1.5"},          // 5 bits cannot take two
        FormatCase{0xBF, 16, kUnlocked, 2400, "2400 8 E 1 checked"},    // 8 bits cannot take 1.5
        FormatCase{0x0E, 16, kUnlocked, 9600, "9600 8 N 1"},            // stop field 00
        // Locked: the user's format and rate win, the parity check still follows mode bit 4.
        FormatCase{0x4E, 16, locked38400(1, 2, 7), 9600, "38400 7 O 2"},
        FormatCase{0xFE, 3, locked38400(0, 0, 8), 51200, "38400 8 N 1 checked"},
        FormatCase{0x0E, 1000, locked38400(2, 2, 8), 153, "38400 8 E 1"},
        FormatCase{0xCE, 16, locked38400(0, 2, 5), 9600, "38400 5 N 1.5"}));

// The line refuses the format: the message comes once, and the rest of the
// programming goes on.
TEST_F(ModeCommand, RefusedFormatIsReportedAndProgrammingGoesOn)
{
    lines.fail(LineOp::SetFormat);
    loadSettings(makeSettings("COM1"));
    programAsync(0x4E);

    EXPECT_EQ(alert.shown(), std::vector<std::string>{kSetCommStateFailed});
    EXPECT_EQ(lines.countOf(LineOp::SetControl), 3u);
    EXPECT_EQ(lines.countOf(LineOp::Discard), 1u);
    EXPECT_EQ(chip().portReady, 1);
    EXPECT_EQ(chip().programState, kExpectCommand);
    EXPECT_TRUE(host.running());
}

class SyncMode : public DeviceTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(SyncMode, TakesTwoSyncCharactersWithoutTouchingTheLine)
{
    loadSettings(makeSettings("COM1"));
    showPanel();
    device.setSystemClock(kClock);
    device.timer2Changed(16);
    panel.clear();
    host.clearTimerCalls();

    device.writeModeCommand(GetParam());
    EXPECT_EQ(lines.log(), (std::vector<std::string>{"Open COM1", "Prepare", "ReadFormat"}));
    DeviceState after = state();
    EXPECT_EQ(after.chip.programState, kExpectSync1);
    EXPECT_EQ(after.baudFactor, 1u);
    EXPECT_EQ(after.computedBaud, 0u);
    EXPECT_EQ(panel.latest(kFieldDivider), "1/1");
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), "");
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "");
    // Re-armed at 300 baud (computed speed 0) for the line's 9-bit format.
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{3000});
    EXPECT_TRUE(host.running());

    mark();
    host.clearTimerCalls();
    device.writeModeCommand(0x16);
    EXPECT_EQ(chip().programState, kExpectSync2);
    device.writeModeCommand(0x4E);  // looks like a mode byte, is the second sync character
    after = state();
    EXPECT_EQ(after.chip.programState, kExpectCommand);
    EXPECT_EQ(after.chip.syncChar1, 0x16);
    EXPECT_EQ(after.chip.syncChar2, 0x4E);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());

    device.writeModeCommand(0x37);  // now a command
    EXPECT_EQ(chip().txEnable, 1);
    EXPECT_EQ(lines.countOf(LineOp::SetControl), 3u);
}

INSTANTIATE_TEST_SUITE_P(Modes, SyncMode, ::testing::Values(0x80, 0x00));

struct CommandCase {
    std::uint8_t command;
    bool dtr, sendBreak, rts;
    std::uint8_t txEnable, rxEnable;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << "command 0x" << std::hex << int{c.command}; }

class CommandByte : public DeviceTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandByte, DrivesDtrBreakRtsInThatOrderAndTheEnables)
{
    const CommandCase& c = GetParam();
    programmed(0x2A);  // every control on: the command must take down what it does not set
    mark();
    host.clearTimerCalls();
    device.writeModeCommand(c.command);
    auto onOff = [](bool on) { return on ? " on" : " off"; };
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{std::string("SetControl DTR") + onOff(c.dtr),
                                                        std::string("SetControl Break") + onOff(c.sendBreak),
                                                        std::string("SetControl RTS") + onOff(c.rts)}));
    const ChipRegisters after = chip();
    EXPECT_EQ(after.txEnable, c.txEnable);
    EXPECT_EQ(after.rxEnable, c.rxEnable);
    EXPECT_EQ(after.programState, kExpectCommand);
    EXPECT_TRUE(host.timerCalls().empty());  // commands never re-arm
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandByte,
    ::testing::Values(CommandCase{0x37, true, false, true, 1, 1}, CommandCase{0x0A, true, true, false, 0, 0},
                      CommandCase{0xA0, false, false, true, 0, 0}, CommandCase{0x05, false, false, false, 1, 1},
                      CommandCase{0x01, false, false, false, 1, 0}));

TEST_F(ModeCommand, ErrorResetClearsOnlyTheErrorBits)
{
    programmed(0x37);
    lines.addErrors(kLineErrorParity | kLineErrorOverrun | kLineErrorFraming);
    EXPECT_EQ(device.readStatus() & 0x38, 0x38);
    device.writeModeCommand(0x27);  // no error reset: they stay
    EXPECT_EQ(device.readStatus() & 0x38, 0x38);
    device.writeModeCommand(0x37);
    EXPECT_EQ(chip().status, kStatusDsr | kStatusTxEmpty | kStatusTxReady);
}

TEST_F(ModeCommand, Timer2CountZeroIsStoredAsOneBeforeTheDivision)
{
    loadSettings(makeSettings("COM1"));
    device.setSystemClock(kClock);
    Block block = save();
    putBlock(block, snapshot_offset::timer2Count, 0);  // only a restored block can leave it so
    ASSERT_EQ(load(block), 1);
    device.writeModeCommand(0x4E);
    EXPECT_EQ(state().timer2Count, 1);
    EXPECT_EQ(state().computedBaud, kClock / 16);
}

TEST_F(ModeCommand, InternalResetKeepsDsrReceivedByteAndInterruptEnables)
{
    programmed(0x37);
    lines.receive("Z");
    host.fire();                  // the byte waits in the receive register
    lines.setInputs({false, true, false, false});  // CTS off: the next byte stays in the holding register
    device.writePortC(kEnableRxReady | kEnableTxReady);
    device.writeData('A');
    lines.addErrors(kLineErrorParity);
    EXPECT_EQ(device.readStatus(), kStatusDsr | kStatusParityError | kStatusTxEmpty | kStatusRxReady);
    host.clearTimerCalls();
    mark();

    device.writeModeCommand(0x40);

    // The reset's controls down and the line discarded, then the command's own bits.
    EXPECT_EQ(logSinceMark(),
              (std::vector<std::string>{"SetControl DTR off", "SetControl Break off", "SetControl RTS off", "Discard",
                                        "SetControl DTR off", "SetControl Break off", "SetControl RTS off"}));
    const ChipRegisters after = chip();
    EXPECT_EQ(after.status, kStatusDsr | kStatusTxEmpty | kStatusTxReady);
    EXPECT_EQ(after.programState, kExpectMode);
    EXPECT_EQ(after.rxReady, 0);
    EXPECT_EQ(after.rxData, 'Z');
    EXPECT_EQ(after.intMask, kEnableRxReady | kEnableTxReady);
    EXPECT_EQ(after.txHoldingFull, 0);
    EXPECT_EQ(after.txShiftFull, 0);
    EXPECT_EQ(after.txEnable, 0);
    EXPECT_EQ(after.rxEnable, 0);
    EXPECT_TRUE(host.timerCalls().empty());

    // The enables in the same byte still apply after the reset.
    device.writeModeCommand(0x4E);
    device.writeModeCommand(0x45);
    EXPECT_EQ(chip().programState, kExpectMode);
    EXPECT_EQ(chip().txEnable, 1);
    EXPECT_EQ(chip().rxEnable, 1);
}

TEST_F(ModeCommand, CommandsWithoutALineChangeOnlyTheChip)
{
    loadSettings(makeSettings("COM1"));
    lines.refuseOpenOf("COM1");
    programAsync(0x4E);
    mark();
    for (std::uint8_t value : {0x37, 0x40, 0x4E, 0x05}) device.writeModeCommand(value);
    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"Open COM1"});
    EXPECT_EQ(chip().txEnable, 1);
    EXPECT_EQ(chip().rxEnable, 1);
}

TEST_F(ModeCommand, StateAboveThreeIgnoresPort32UntilReset)
{
    programmed(0x37);
    restoreRegisters([](ChipRegisters& registers) { registers.programState = 5; });
    mark();
    host.clearTimerCalls();
    for (std::uint8_t value : {0x4E, 0x40, 0x00, 0x80, 0x12}) device.writeModeCommand(value);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_EQ(chip().programState, 5);
    EXPECT_EQ(chip().txEnable, 1);
    EXPECT_EQ(state().modeByte, 0x4E);

    device.reset();
    device.writeModeCommand(0xFE);
    EXPECT_EQ(chip().programState, kExpectCommand);
    EXPECT_EQ(describeFormat(lines.currentFormat()), "9600 8 E 2 checked");
}

// A line kind may lack the format, the controls or break: the device then
// leaves that alone, without a message, and paces by the format it asked for.
struct FeatureCase {
    const char* name;
    std::uint32_t features;
    std::vector<std::string> modeByteCalls;  // after Open and Prepare
    std::vector<std::string> commandCalls;   // command 0x2B
};
void PrintTo(const FeatureCase& c, std::ostream* os) { *os << c.name; }

class LineFeatures : public DeviceTest, public ::testing::WithParamInterface<FeatureCase> {};

TEST_P(LineFeatures, OnlyWhatTheLineHasIsAskedOfIt)
{
    const FeatureCase& c = GetParam();
    lines.setFeatures(c.features);
    loadSettings(makeSettings("COM1"));
    programAsync(0xFA);  // 7 bits, even parity, two stop bits: 10.0 bits a character
    const std::vector<std::string> log = lines.log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.end()), c.modeByteCalls);
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{104});  // 10.0 bits at 9600: 104.17

    mark();
    device.writeModeCommand(0x2B);
    EXPECT_EQ(logSinceMark(), c.commandCalls);
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(logSinceMark().empty(), (c.features & kLineHasFormat) == 0);
    EXPECT_TRUE(alert.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LineFeatures,
    ::testing::Values(
        FeatureCase{"BytesOnly", 0, {"Discard"}, {}},
        FeatureCase{"ControlsWithoutBreak",
                    kLineHasControls,
                    {"SetControl DTR off", "SetControl RTS off", "Discard"},
                    {"SetControl DTR on", "SetControl RTS on"}},
        FeatureCase{"FormatOnly",
                    kLineHasFormat,
                    {"SetFormat 9600 7 E 2 checked", "Discard", "ReadFormat"},
                    {}}),
    [](const ::testing::TestParamInfo<FeatureCase>& info) { return std::string(info.param.name); });
}  // namespace
